#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QLineEdit;
class QMimeData;

// Folders dragged from a file manager onto a path field. A drag that carries
// addresses (text/uri-list) is taken only when it is one local folder, which
// then replaces the field's text as a path; a file, several items or a remote
// address is refused, so the pointer shows that nothing would happen. A drag
// of plain text alone is left to the field.
class FolderDrop : public QObject
{
    Q_OBJECT

public:
    using FolderTest = std::function<bool(const QString &path)>;

    // Watches box; isFolder decides whether a path names a folder.
    FolderDrop(QLineEdit *box, FolderTest isFolder);

    // The folder a drag offers, or nothing when it offers no addresses.
    // An empty text: addresses that are not exactly one local folder.
    static std::optional<QString> offeredFolder(const QMimeData &data, const FolderTest &isFolder);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_box;
    FolderTest m_isFolder;
};
