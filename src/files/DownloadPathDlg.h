#pragma once

#include <QString>
#include <QWidget>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

// The "Download path" page: the controller's folders under "My Device", and "New folder".
class CDownloadPathDlg : public QWidget
{
public:
    CDownloadPathDlg(const QString& folder, QWidget* parent = nullptr);

    // The selected folder, ending with a separator.
    QString Folder() const;
    void SelectFolder(const QString& folder);
    // Creates the "New folder:" name under the selected folder; false with the status text.
    bool CreateFolder(QString* status);
    QLineEdit* NewFolderEdit() const { return m_name; }

private:
    QFileSystemModel* m_model;
    QTreeView* m_tree;
    QLineEdit* m_name;
    QPushButton* m_create;
    QString m_folder;
};
