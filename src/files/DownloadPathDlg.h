#pragma once

#include <QString>
#include <QWidget>

class CFolderTree;
class QLineEdit;

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
    QLineEdit* NewFolderEdit() const;
    CFolderTree* Tree() const { return m_tree; }

private:
    CFolderTree* m_tree;
};
