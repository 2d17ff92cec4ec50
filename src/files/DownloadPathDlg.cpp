#include "files/DownloadPathDlg.h"

#include "files/FileCore.h"
#include "link/FileListing.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

CDownloadPathDlg::CDownloadPathDlg(const QString& folder, QWidget* parent)
    : QWidget(parent), m_folder(WithTrailingSeparator(folder))
{
    setObjectName(QStringLiteral("downloadPathPage"));
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setNameFilters({QStringLiteral("*.kvs")});
    m_model->setRootPath(QDir::rootPath());
    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int c = 1; c < m_model->columnCount(); ++c) {
        m_tree->hideColumn(c);
    }
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("newFolderEdit"));
    m_create = new QPushButton(QStringLiteral("Create"), this);
    m_create->setObjectName(QStringLiteral("createFolderButton"));
    m_create->setEnabled(false);
    auto* status = new QLabel(this);
    status->setObjectName(QStringLiteral("pathStatus"));
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& t) { m_create->setEnabled(!t.isEmpty()); });
    connect(m_create, &QPushButton::clicked, this, [this, status] {
        QString text;
        CreateFolder(&text);
        status->setText(text);
    });
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& i) {
        if (i.isValid()) {
            m_folder = WithTrailingSeparator(m_model->filePath(i));
        }
    });
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("New folder:"), this));
    row->addWidget(m_name, 1);
    row->addWidget(m_create);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("My Device"), this));
    layout->addWidget(m_tree, 1);
    layout->addLayout(row);
    layout->addWidget(status);
    SelectFolder(m_folder);
}

QString CDownloadPathDlg::Folder() const
{
    return m_folder;
}

void CDownloadPathDlg::SelectFolder(const QString& folder)
{
    m_folder = WithTrailingSeparator(folder);
    const QModelIndex i = m_model->index(folder);
    if (i.isValid()) {
        m_tree->setCurrentIndex(i);
        m_tree->scrollTo(i);
    }
}

bool CDownloadPathDlg::CreateFolder(QString* status)
{
    const QString name = m_name->text().trimmed();
    bool ok = false;
    if (!name.isEmpty()) {
        const QString problem = FileNameProblem(name);
        if (!problem.isEmpty()) {
            *status = problem;
        } else if (!QDir(m_folder).mkdir(name)) {
            *status = QStringLiteral("Can't create the folder ") + name;
        } else {
            SelectFolder(QDir(m_folder).filePath(name));
            status->clear();
            ok = true;
        }
    }
    m_name->clear();
    m_create->setEnabled(false);
    return ok;
}
