#include "settings/FolderChooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

FolderChooser::FolderChooser(const QString &title, const QString &startPath, QWidget *parent,
                             bool statusLine, const QString &root, bool newStyle, bool includeFiles)
    : QDialog(parent), m_model(new QFileSystemModel(this)), m_title(new QLabel(title, this)),
      m_home(new QToolButton(this)), m_tree(new QTreeView(this)), m_status(new QLabel(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(title);
    setSizeGripEnabled(newStyle);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setWordWrap(true);
    m_home->setObjectName(QStringLiteral("home"));
    m_tree->setObjectName(QStringLiteral("tree"));
    m_status->setObjectName(QStringLiteral("status"));
    m_buttons->setObjectName(QStringLiteral("buttons"));

    // An icon rather than a caption: every caption of the program comes from
    // the language file.
    m_home->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
    m_home->setToolTip(QDir::homePath());
    connect(m_home, &QToolButton::clicked, this, [this] { selectPath(QDir::homePath()); });

    QDir::Filters filters = QDir::AllDirs | QDir::NoDotAndDotDot;
    if (includeFiles)
        filters |= QDir::Files;
    m_model->setFilter(filters);
    m_model->setReadOnly(true);

    const QFileInfo rootInfo(root);
    const bool limited = !root.isEmpty() && rootInfo.isDir();
    m_model->setRootPath(limited ? rootInfo.absoluteFilePath() : QDir::rootPath());
    m_tree->setModel(m_model);
    if (limited)
        m_tree->setRootIndex(m_model->index(rootInfo.absoluteFilePath()));
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    m_tree->setSortingEnabled(true);
    m_tree->sortByColumn(0, Qt::AscendingOrder);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);

    // The status text follows the label's width; the label must not in turn
    // grow with a long path.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setVisible(statusLine);
    m_status->installEventFilter(this);

    auto *top = new QHBoxLayout;
    top->addWidget(m_title, 1);
    top->addWidget(m_home, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_buttons);
    resize(440, 500);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderChooser::currentChanged);
    // The model fills and sorts its rows after the fact, which moves the
    // start folder away from where it was scrolled to.
    connect(m_model, &QFileSystemModel::directoryLoaded, this, &FolderChooser::rescrollToStart);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &FolderChooser::rescrollToStart);
    // Once the user browses, the view is theirs.
    const auto stopFollowing = [this] { m_followIndex = QPersistentModelIndex(); };
    connect(m_tree, &QTreeView::expanded, this, stopFollowing);
    connect(m_tree, &QTreeView::collapsed, this, stopFollowing);
    connect(m_tree->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, stopFollowing);

    currentChanged();
    if (startPath.isEmpty() || !selectPath(startPath)) {
        // Nothing selected: show where the user's own folders are, and keep
        // them in view while the tree loads and sorts its rows.
        const QModelIndex home = m_model->index(QDir::homePath());
        for (QModelIndex up = home.parent(); up.isValid(); up = up.parent())
            m_tree->expand(up);
        m_tree->scrollTo(home, QAbstractItemView::PositionAtCenter);
        m_followIndex = home;
    }
}

QString FolderChooser::titleText() const
{
    return m_title->text();
}

bool FolderChooser::selectPath(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    const QString full = QDir::cleanPath(info.absoluteFilePath());
    QModelIndex index = m_model->index(full);
    if (!index.isValid()) {
        // A folder inside a hidden one is still a valid choice; show hidden
        // entries from now on rather than refuse it.
        m_model->setFilter(m_model->filter() | QDir::Hidden);
        index = m_model->index(full);
    }
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        m_tree->expand(up);
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_followIndex = index;
    return true;
}

QString FolderChooser::selectedPath() const
{
    return m_selectedPath;
}

QString FolderChooser::statusText() const
{
    return m_status->text();
}

QString FolderChooser::chosenPath() const
{
    return result() == QDialog::Accepted ? m_selectedPath : QString();
}

bool FolderChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_status && event->type() == QEvent::Resize)
        updateStatus();
    return QDialog::eventFilter(watched, event);
}

void FolderChooser::currentChanged()
{
    const QModelIndex current = m_tree->currentIndex();
    if (current != m_followIndex)
        m_followIndex = QPersistentModelIndex();
    // Only folders can be confirmed, also when files are listed.
    m_selectedPath =
        current.isValid() && m_model->isDir(current) ? m_model->filePath(current) : QString();
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_selectedPath.isEmpty());
    updateStatus();
}

void FolderChooser::updateStatus()
{
    if (m_selectedPath.isEmpty()) {
        m_status->clear();
        return;
    }
    const QFontMetrics metrics = m_status->fontMetrics();
    const int width = m_status->contentsRect().width() - metrics.horizontalAdvance(statusPrefix());
    m_status->setText(statusPrefix() +
                      metrics.elidedText(m_selectedPath, Qt::ElideMiddle, qMax(0, width)));
}

void FolderChooser::rescrollToStart()
{
    if (m_followIndex.isValid())
        m_tree->scrollTo(m_followIndex, QAbstractItemView::PositionAtCenter);
}
