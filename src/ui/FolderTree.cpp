#include "ui/FolderTree.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLoadedRole = Qt::UserRole + 1;
constexpr int kMaxNameBytes = 255;

QString Clean(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

QString WithSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// `path` is `folder` itself or lies inside it.
bool Within(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(WithSeparator(folder));
}

}  // namespace

CFolderTree::CFolderTree(const QString& fileExtension, QWidget* parent) : QWidget(parent), m_extension(fileExtension)
{
    setObjectName(QStringLiteral("folderTree"));
    m_tree = new QTreeWidget(this);
    m_tree->setAccessibleName(QStringLiteral("Folders"));
    m_tree->setObjectName(QStringLiteral("folderTreeView"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setUniformRowHeights(true);
    m_root = new QTreeWidgetItem(m_tree, {QStringLiteral("My Device")});
    m_root->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
    m_root->setData(0, kLoadedRole, true);
    AddFolder(m_root, Clean(QDir::homePath()), QDir::toNativeSeparators(Clean(QDir::homePath())));
    for (const QFileInfo& drive : QDir::drives()) {
        AddFolder(m_root, drive.absoluteFilePath(), QDir::toNativeSeparators(drive.absoluteFilePath()));
    }
    m_root->setExpanded(true);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("newFolderEdit"));
    m_create = new QPushButton(QStringLiteral("Create"), this);
    m_create->setObjectName(QStringLiteral("createFolderButton"));
    m_create->setEnabled(false);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("folderTreeStatus"));
    m_status->setWordWrap(true);

    connect(m_tree, &QTreeWidget::itemExpanded, this, &CFolderTree::Populate);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { OnCurrentChanged(item); });
    connect(m_name, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_create->setEnabled(!text.trimmed().isEmpty()); });
    auto create = [this] {
        QString status;
        CreateFolder(&status);
        m_status->setText(status);
    };
    connect(m_create, &QPushButton::clicked, this, create);
    connect(m_name, &QLineEdit::returnPressed, this, create);

    auto* row = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("New folder:"), this);
    caption->setBuddy(m_name);
    row->addWidget(caption);
    row->addWidget(m_name, 1);
    row->addWidget(m_create);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree, 1);
    layout->addLayout(row);
    layout->addWidget(m_status);
}

QTreeWidgetItem* CFolderTree::AddFolder(QTreeWidgetItem* parent, const QString& path, const QString& text)
{
    auto* item = new QTreeWidgetItem(parent, {text});
    item->setData(0, kPathRole, path);
    item->setData(0, kLoadedRole, false);
    item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    // Whether it has subfolders is known only once it is read.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

void CFolderTree::Populate(QTreeWidgetItem* item)
{
    if (!item || item->data(0, kLoadedRole).toBool()) {
        return;
    }
    item->setData(0, kLoadedRole, true);
    const QDir dir(item->data(0, kPathRole).toString());
    const auto order = QDir::Name | QDir::IgnoreCase;
    for (const QFileInfo& sub : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, order)) {
        AddFolder(item, Clean(sub.absoluteFilePath()), sub.fileName());
    }
    if (!m_extension.isEmpty()) {
        for (const QFileInfo& file : dir.entryInfoList({QLatin1Char('*') + m_extension}, QDir::Files, order)) {
            auto* leaf = new QTreeWidgetItem(item, {file.fileName()});
            leaf->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
            leaf->setFlags(Qt::ItemIsEnabled);  // shown, not chosen
        }
    }
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* CFolderTree::ItemFor(const QString& folder)
{
    // The deepest top folder that holds it (the home folder rather than "/"), then down one level at a time.
    QTreeWidgetItem* item = nullptr;
    QString base;
    for (int i = 0; i < m_root->childCount(); ++i) {
        const QString top = m_root->child(i)->data(0, kPathRole).toString();
        if (Within(folder, top) && top.size() > base.size()) {
            item = m_root->child(i);
            base = top;
        }
    }
    if (!item) {
        return m_root;
    }
    QString path = base;
    for (const QString& part : folder.mid(base.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        Populate(item);
        path = WithSeparator(path) + part;
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i) {
            if (item->child(i)->data(0, kPathRole).toString() == path) {
                next = item->child(i);
            }
        }
        if (!next) {
            break;
        }
        item = next;
    }
    return item;
}

void CFolderTree::SetPath(const QString& folder)
{
    const QString clean = Clean(folder);
    QTreeWidgetItem* item = ItemFor(clean);
    {
        const QSignalBlocker block(m_tree);
        for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) {
            Populate(up);
            up->setExpanded(true);
        }
        m_tree->setCurrentItem(item);
    }
    m_tree->scrollToItem(item);
    const QString path = WithSeparator(clean);
    if (path != m_path) {
        m_path = path;
        emit PathChanged(m_path);
    }
}

void CFolderTree::OnCurrentChanged(QTreeWidgetItem* item)
{
    const QString folder = item ? item->data(0, kPathRole).toString() : QString();
    if (folder.isEmpty()) {
        return;  // "My Device" or a file: the folder stays
    }
    const QString path = WithSeparator(folder);
    if (path != m_path) {
        m_path = path;
        emit PathChanged(m_path);
    }
}

bool CFolderTree::CreateFolder(QString* status)
{
    const QString name = m_name->text().trimmed();
    m_name->clear();
    m_create->setEnabled(false);
    if (name.isEmpty()) {
        if (status) {
            status->clear();
        }
        return false;
    }
    QString why = FolderNameProblem(name);
    const QString target = QDir(m_path).filePath(name);
    if (why.isEmpty() && m_path.isEmpty()) {
        why = QStringLiteral("Choose a folder first");
    } else if (why.isEmpty() && QFileInfo::exists(target)) {
        why = QStringLiteral("\"%1\" already exists").arg(name);
    } else if (why.isEmpty() && !QDir(m_path).mkdir(name)) {
        why = QStringLiteral("Can't create the folder \"%1\"").arg(name);
    }
    if (status) {
        *status = why;
    }
    if (!why.isEmpty()) {
        return false;
    }
    // The parent is read again, so that the new folder takes its place in the order.
    if (QTreeWidgetItem* parent = ItemFor(Clean(m_path)); parent != m_root) {
        qDeleteAll(parent->takeChildren());
        parent->setData(0, kLoadedRole, false);
    }
    SetPath(target);
    return true;
}

QString CFolderTree::FolderNameProblem(const QString& name)
{
    const QString n = name.trimmed();
    if (n.isEmpty()) {
        return QStringLiteral("The folder name is empty");
    }
    if (n.toUtf8().size() > kMaxNameBytes) {
        return QStringLiteral("The folder name is too long");
    }
    if (n == QLatin1String(".") || n == QLatin1String("..")) {
        return QStringLiteral("The folder name is not a name");
    }
    for (const QChar c : n) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return QStringLiteral("The folder name contains a control character");
        }
        if (c == QLatin1Char('/') || c == QLatin1Char('\\')) {
            return QStringLiteral("The folder name contains a path separator");
        }
        // Refused by the file systems of memory cards and of other systems the folder may be copied to.
        if (QStringLiteral("<>:\"|?*").contains(c)) {
            return QStringLiteral("The folder name contains \"%1\"").arg(c);
        }
    }
    static const QRegularExpression kDevice(QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\\..*)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (kDevice.match(n).hasMatch()) {
        return QStringLiteral("The folder name names a device");
    }
    return QString();
}
