#include "files/DownloadPathDlg.h"

#include "ui/FolderTree.h"

#include <QLineEdit>
#include <QVBoxLayout>

CDownloadPathDlg::CDownloadPathDlg(const QString& folder, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("downloadPathPage"));
    m_tree = new CFolderTree(QStringLiteral(".kvs"), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);
    m_tree->SetPath(folder);
}

QString CDownloadPathDlg::Folder() const
{
    return m_tree->Path();
}

void CDownloadPathDlg::SelectFolder(const QString& folder)
{
    m_tree->SetPath(folder);
}

bool CDownloadPathDlg::CreateFolder(QString* status)
{
    return m_tree->CreateFolder(status);
}

QLineEdit* CDownloadPathDlg::NewFolderEdit() const
{
    return m_tree->findChild<QLineEdit*>(QStringLiteral("newFolderEdit"));
}
