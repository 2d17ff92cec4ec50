#include "files/FileManager.h"

#include "files/CurrentLogFileDlg.h"
#include "files/DownloadFilesDlg.h"
#include "files/DownloadPathDlg.h"
#include "files/FileCore.h"
#include "link/Connection.h"
#include "link/ParamBatch.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/ElidedLabel.h"
#include "ui/FolderTree.h"
#include "ui/WindowFit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("LoadFile");
const QString kPollBatch = QStringLiteral(
    "@scr stoperrors off\nprint,/cur/log\nprint,/cur/log&size\nprint,/par/dev/blk/a/free\n"
    "print,/par/dev/blk/a/size\n@end\n");

QString ReadOutputFolder()
{
    CProfile* profile = CProfile::Instance();
    QString folder = profile->ReadString(kSection, QStringLiteral("OutputPath"), QString());
    CProfile::Release();
    // The program's own folder is not writable once installed: the default is a folder of the user's.
    return folder.isEmpty() ? DefaultDownloadFolder() : WithTrailingSeparator(folder);
}

QTreeWidgetItem* FindByName(QTreeWidget* list, const QString& name)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->data(kColName, Qt::UserRole).toString() == name) {
            return item;
        }
    }
    return nullptr;
}

}  // namespace

int CompareFileItems(const QTreeWidgetItem& a, const QTreeWidgetItem& b, int column)
{
    switch (column) {
        case kColSize: {
            const qlonglong x = a.text(kColSize).toLongLong();
            const qlonglong y = b.text(kColSize).toLongLong();
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case kColDate: {
            const qlonglong x = a.data(kColDate, Qt::UserRole).toLongLong();
            const qlonglong y = b.data(kColDate, Qt::UserRole).toLongLong();
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default:
            return a.text(column).compare(b.text(column), Qt::CaseInsensitive);
    }
}

void SortFileList(QTreeWidget* list, int column, int direction)
{
    QList<QTreeWidgetItem*> items;
    while (list->topLevelItemCount() > 0) {
        items << list->takeTopLevelItem(0);
    }
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return CompareFileItems(*a, *b, column) * direction < 0;
    });
    list->addTopLevelItems(items);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(column, direction < 0 ? Qt::DescendingOrder : Qt::AscendingOrder);
}

CFileManager::CFileManager(const FileManagerContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("fileManager"));
    setWindowTitle(QStringLiteral("File Manager"));
    m_status = new CElidedLabel(context.receiverName, this);
    m_status->setObjectName(QStringLiteral("fileManagerStatus"));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("fileManagerTabs"));
    m_poll = new QTimer(this);
    connect(m_poll, &QTimer::timeout, this, &CFileManager::Poll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_status);
    m_outputFolder = ReadOutputFolder();
    ::FitToScreen(this, QSize(480, 640));

    if (!m_context.holder->GetReceiver()->Open(m_context.connection, m_context.receiverName, 0)) {
        SetStatus(m_context.holder->GetReceiver()->GetReplyString());
        return;
    }
    m_download = new CDownloadFilesDlg(*this);
    m_log = new CCurrentLogFileDlg(*this);
    m_path = new CDownloadPathDlg(m_outputFolder, this);
    m_tabs->addTab(m_download, QStringLiteral("Download files"));
    m_tabs->addTab(m_log, QStringLiteral("Current log file"));
    m_tabs->addTab(m_path, QStringLiteral("Download path"));
    connect(m_path->Tree(), &CFolderTree::PathChanged, m_download, &CDownloadFilesDlg::ShowPath);
    List(kDownloadPage);
    List(kLogPage);
    m_tabs->setCurrentIndex(kLogPage);
    m_currentTab = kLogPage;
    FitToScreen();
    connect(m_tabs, &QTabWidget::currentChanged, this, &CFileManager::OnTabChanged);
}

CFileManager::~CFileManager() = default;

void CFileManager::FitToScreen()
{
    // The handheld's whole screen at the least; on a desktop wide enough for every column of the lists.
    QTreeWidget* list = m_download->List();
    int columns = 2 * list->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    for (int c = 0; c < list->columnCount(); ++c) {
        columns += list->columnWidth(c);
    }
    // Around the list: the dialog's and the page's margins and the tab frame.
    const int margins =
        4 * style()->pixelMetric(QStyle::PM_LayoutLeftMargin) + 4 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    ::FitToScreen(this, QSize(std::max(480, columns + margins), std::max(640, sizeHint().height())));
}

CReceiver* CFileManager::Receiver() const
{
    return m_context.holder->GetReceiver().get();
}

void CFileManager::SetStatus(const QString& text)
{
    m_status->setText(text.trimmed());
}

QString CFileManager::Status() const
{
    return m_status->text();
}

QString CFileManager::OutputFolder() const
{
    return m_path ? m_path->Folder() : m_outputFolder;
}

void CFileManager::StopPolling()
{
    m_poll->stop();
}

void CFileManager::StartPolling(int intervalMs)
{
    m_poll->start(intervalMs);
}

int CFileManager::PollInterval() const
{
    return m_poll->isActive() ? m_poll->interval() : 0;
}

void CFileManager::List(int page)
{
    CConnection* connection = m_context.connection;
    const int timeout = connection ? connection->GetTimeout() : 0;
    StopPolling();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CReceiverHolder& holder = *m_context.holder;
    bool ok = true;
    if (m_listing.isEmpty()) {
        if (!holder.Send(QStringLiteral("print,/par/dev/blk/a/files"))) {
            SetStatus(holder.Reply());
            ok = false;
        } else {
            m_fileCount = AnswerValue(holder.Reply()).toInt();
            if (connection) {
                connection->SetTimeout(kListTimeout);
            }
            if (m_listedOnce) {
                QCoreApplication::processEvents();
            }
            m_listedOnce = true;
            if (holder.Send(QStringLiteral("print,/log/&[name,size,time]"))) {
                m_listing = holder.Reply();
                // The listing itself says which files there are; the count only tells the Delete page when
                // every file is selected.
                int skipped = 0;
                m_records = ParseFileListing(m_listing, &skipped);
                if (skipped > 0) {
                    SetStatus(QStringLiteral("The listing is incomplete: %1 record(s) could not be read").arg(skipped));
                }
            } else {
                ok = false;
            }
        }
    }
    if (ok) {
        if (page == kDownloadPage && m_download) {
            FillList(m_download->List(), QStringLiteral("Target name"));
            SortFileList(m_download->List(), m_download->SortColumn(), m_download->SortDirection());
        } else if (page == kLogPage && m_log) {
            FillList(m_log->List(), QStringLiteral(" Target name"));
            SortFileList(m_log->List(), m_log->SortColumn(), m_log->SortDirection());
        }
    }
    if (connection) {
        connection->SetTimeout(timeout);
    }
    StartPolling(kPollMs);
    QApplication::restoreOverrideCursor();
}

void CFileManager::FillList(QTreeWidget* list, const QString& firstTitle)
{
    const QSignalBlocker block(list);
    list->clear();
    list->setHeaderLabels(
        {firstTitle, QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date"), QStringLiteral("Time")});
    int index = 0;
    for (const ReceiverFileRecord& r : m_records) {
        auto* item = new QTreeWidgetItem;
        const QString shown = PrintableName(r.name).trimmed();
        item->setText(kColTarget, shown + QStringLiteral(".kvs"));
        item->setText(kColName, shown);
        item->setData(kColName, Qt::UserRole, r.name);  // the name as the receiver wrote it
        item->setText(kColSize, PrintableName(r.sizeText));
        item->setText(kColDate, FileDateText(r.time));
        item->setData(kColDate, Qt::UserRole, qlonglong(r.time));
        item->setText(kColTime, FileTimeText(r.time));
        item->setData(kColTarget, Qt::UserRole, index++);
        item->setTextAlignment(kColSize, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(kColDate, Qt::AlignCenter);
        item->setTextAlignment(kColTime, Qt::AlignCenter);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(kColTarget, Qt::Unchecked);  // ticked: chosen for Download or Delete
        list->addTopLevelItem(item);
    }
    FitColumns(list);
}

QList<QTreeWidgetItem*> ChosenRows(const QTreeWidget* list)
{
    QList<QTreeWidgetItem*> ticked;
    QList<QTreeWidgetItem*> highlighted;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->checkState(kColTarget) == Qt::Checked) {
            ticked << item;
        }
        if (item->isSelected()) {
            highlighted << item;
        }
    }
    return ticked.isEmpty() ? highlighted : ticked;
}

void FitColumns(QTreeWidget* list)
{
    // Each column is as wide as its title (with room for the sort mark, whichever column is sorted) and its texts.
    // The size gets room for ten digits (a file being logged into grows), date and time for their whole text.
    const QFontMetrics metrics = list->fontMetrics();
    const char* widest[] = {"", "", "0000000000", "00.00.0000", "00:00:00"};
    const int padding = metrics.averageCharWidth() * 2;
    const int mark = list->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, list) +
                     2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list);
    list->header()->setStretchLastSection(false);  // a centred time stays by its date
    for (int c = 0; c < list->columnCount() && c < 5; ++c) {
        list->resizeColumnToContents(c);
        const int title = metrics.horizontalAdvance(list->headerItem()->text(c)) + mark;
        const int text = metrics.horizontalAdvance(QLatin1String(widest[c])) + padding;
        list->setColumnWidth(c, std::max({list->columnWidth(c), title, text}));
    }
}

void CFileManager::Poll()
{
    if (m_closing || m_downloading || m_currentTab == kPathPage) {
        return;
    }
    CParamBatch batch(*m_context.holder);
    if (!batch.Run(kPollBatch) || !batch[0]) {
        QCoreApplication::processEvents();
        return;
    }
    const QString current = *batch[0];
    m_logging = !current.isEmpty();
    m_currentName = current.size() > 5 ? current.mid(5) : QStringLiteral("<none>");
    m_currentSize = batch[1] ? *batch[1] : QString();
    if (m_log) {
        m_log->ShowLogging(m_logging, m_logging ? m_currentName : QString());
    }
    if (m_currentTab == kLogPage && m_log) {
        if (batch[2] && batch[3]) {
            const qlonglong size = batch[3]->toLongLong();
            const qlonglong free = batch[2]->toLongLong();
            SetStatus(
                QStringLiteral("Total memory(MB): %1  Free memory(MB): %2").arg(size / 1048576).arg(free / 1048576));
        }
        if (QTreeWidgetItem* item = FindByName(m_log->List(), m_currentName)) {
            item->setText(kColSize, m_currentSize);
        }
    } else if (m_currentTab == kDownloadPage && m_download) {
        m_download->ShowPath(OutputFolder());
        if (QTreeWidgetItem* item = FindByName(m_download->List(), m_currentName)) {
            item->setText(kColSize, m_currentSize);
        }
    }
}

void CFileManager::OnTabChanged(int index)
{
    if (m_downloading) {
        // A download keeps its page.
        const QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(m_currentTab);
        return;
    }
    if (m_currentTab == kPathPage && m_download) {
        m_download->ShowPath(OutputFolder());
    }
    m_currentTab = index;
    Poll();
}

void CFileManager::Close()
{
    if (m_downloading) {
        return;
    }
    m_closing = true;
    StopPolling();
    CProfile* profile = CProfile::Instance();
    profile->WriteString(kSection, QStringLiteral("OutputPath"), OutputFolder());
    CProfile::Release();
    QDialog::reject();
}

void CFileManager::closeEvent(QCloseEvent* event)
{
    if (m_downloading) {
        event->ignore();
        return;
    }
    Close();
}

void CFileManager::reject()
{
    Close();
}

void RunFileManager(const FileManagerContext& context, QWidget* parent)
{
    CFileManager dialog(context, parent);
    dialog.exec();
}
