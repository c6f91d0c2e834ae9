#include "app/FolderDrop.h"

#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

FolderDrop::FolderDrop(QLineEdit *box, FolderTest isFolder)
    : QObject(box), m_box(box), m_isFolder(std::move(isFolder))
{
    box->setAcceptDrops(true);
    box->installEventFilter(this);
}

std::optional<QString> FolderDrop::offeredFolder(const QMimeData &data, const FolderTest &isFolder)
{
    if (!data.hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data.urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    // File managers write this machine's own name as host now and then;
    // any other host is a share the path would not reach.
    const QString host = urls.first().host();
    if (!host.isEmpty() && host != QLatin1String("localhost") &&
        host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
        return QString();
    // Qt would read a named host as a network path.
    QUrl local = urls.first();
    local.setHost(QString());
    const QString path = QDir::cleanPath(local.toLocalFile());
    return isFolder(path) ? path : QString();
}

bool FolderDrop::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_box)
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    const std::optional<QString> folder = offeredFolder(*drop->mimeData(), m_isFolder);
    if (!folder)
        return false; // plain text: the field inserts it as it always did
    if (folder->isEmpty()) {
        drop->ignore();
        return true;
    }
    // Only the folder's name is taken: a move offered by the source must not
    // make it delete anything.
    if (drop->possibleActions() & Qt::LinkAction)
        drop->setDropAction(Qt::LinkAction);
    else if (drop->possibleActions() & Qt::CopyAction)
        drop->setDropAction(Qt::CopyAction);
    else
        drop->setDropAction(drop->proposedAction());
    drop->accept();
    // The text changes as if it had been typed: the folder check runs, the
    // tool tip stays.
    if (type == QEvent::Drop) {
        m_box->setText(*folder);
        m_box->setFocus(Qt::OtherFocusReason);
    }
    return true;
}
