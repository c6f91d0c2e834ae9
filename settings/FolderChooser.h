#pragma once

#include <QDialog>
#include <QPersistentModelIndex>
#include <QString>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QToolButton;
class QTreeView;

// The modal folder chooser behind modFolder::BrowseFolder: a title above a
// folder tree, a status line naming the folder under the cursor, OK and
// Cancel. Child objectNames: "title", "home", "tree", "status", "buttons".
class FolderChooser : public QDialog
{
    Q_OBJECT
public:
    // statusLine: show the status line. root: limit the tree to that folder
    // (empty: the whole file system). newStyle: resizable dialog.
    // includeFiles: list files too (only folders can be confirmed).
    FolderChooser(const QString &title, const QString &startPath, QWidget *parent = nullptr,
                  bool statusLine = true, const QString &root = QString(), bool newStyle = true,
                  bool includeFiles = false);

    // Fixed, not localized.
    static QString statusPrefix() { return QStringLiteral("Auswahl: "); }

    QString titleText() const;
    // Selects and scrolls to path; false (selection unchanged) when the tree
    // cannot show it.
    bool selectPath(const QString &path);
    // Full path of the selected folder; "" when nothing or no folder is selected.
    QString selectedPath() const;
    QString statusText() const;
    // After the dialog closed: the confirmed folder, or "" when cancelled.
    QString chosenPath() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void currentChanged();
    void updateStatus();
    void rescrollToStart();

    QFileSystemModel *m_model;
    QLabel *m_title;
    QToolButton *m_home;
    QTreeView *m_tree;
    QLabel *m_status;
    QDialogButtonBox *m_buttons;
    QString m_selectedPath;
    // Kept in view while the model is still loading and sorting its rows.
    QPersistentModelIndex m_followIndex;
};
