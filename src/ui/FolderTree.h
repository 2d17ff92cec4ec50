#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The controller's folders in a tree under a root named "My Device" (the user's home folder and the file-system
// roots), with "New folder:" and "Create" under it. Folders are read when their branch is opened. Files with
// the given extension (".kvs") are shown in their folders, so that the user sees what is already there; only
// folders can be chosen.
class CFolderTree : public QWidget
{
    Q_OBJECT
public:
    explicit CFolderTree(const QString& fileExtension = QString(), QWidget* parent = nullptr);

    // The chosen folder, ending with a separator.
    QString Path() const { return m_path; }
    // Chooses `folder` and opens the tree down to it (to its nearest existing parent when it does not exist).
    void SetPath(const QString& folder);
    // Creates the "New folder:" name under the chosen folder and chooses it. The edit is emptied either way;
    // false with `status` set when no folder was made.
    bool CreateFolder(QString* status = nullptr);

    // Why `name` can't be a new folder's name (empty when it can): a path, "." or "..", a control character,
    // a character that some file systems refuse, a device name, or blank.
    static QString FolderNameProblem(const QString& name);

signals:
    void PathChanged(const QString& path);

private:
    QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& path, const QString& text);
    void Populate(QTreeWidgetItem* item);
    QTreeWidgetItem* ItemFor(const QString& folder);
    void OnCurrentChanged(QTreeWidgetItem* item);

    QString m_extension;
    QString m_path;
    QTreeWidget* m_tree;
    QTreeWidgetItem* m_root;
    QLineEdit* m_name;
    QPushButton* m_create;
    QLabel* m_status;
};
