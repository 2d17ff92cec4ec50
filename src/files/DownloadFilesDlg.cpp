#include "files/DownloadFilesDlg.h"

#include "files/FileCore.h"
#include "files/FileManager.h"
#include "link/FileListing.h"
#include "link/Profile.h"
#include "link/Receiver.h"
#include "ui/ElidedLabel.h"
#include "ui/Prompts.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("LoadFile");
const QString kCaption = QStringLiteral("Download files from receiver");
// How long a stopped download may take to end; the link ends it within its drain limit.
constexpr int kStopWaitMs = CReceiver::kDrainLimitMs + 1000;

struct Selected
{
    QTreeWidgetItem* item;
    QString receiverName;
    QString targetName;
};

}  // namespace

CDownloadFilesDlg::CDownloadFilesDlg(CFileManager& manager) : m_fm(manager)
{
    setObjectName(QStringLiteral("downloadFilesPage"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("downloadList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setRootIsDecorated(false);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->header()->setSectionsClickable(true);
    connect(m_list->header(), &QHeaderView::sectionClicked, this, &CDownloadFilesDlg::SortBy);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int column) {
        if (column == kColTarget && !m_fm.Downloading()) {
            item->setFlags(item->flags() | Qt::ItemIsEditable);
            m_list->editItem(item, kColTarget);
        }
    });
    connect(m_list, &QTreeWidget::itemChanged, this, &CDownloadFilesDlg::OnItemChanged);

    m_refresh = new QPushButton(QStringLiteral("Refresh"), this);
    m_refresh->setObjectName(QStringLiteral("refreshButton"));
    m_download = new QPushButton(QStringLiteral("Download"), this);
    m_download->setObjectName(QStringLiteral("downloadButton"));
    m_exit = new QPushButton(QStringLiteral("Exit"), this);
    m_exit->setObjectName(QStringLiteral("exitButton"));
    m_blockSize = new QComboBox(this);
    m_blockSize->setObjectName(QStringLiteral("blockSizeBox"));
    m_blockSize->setAccessibleName(QStringLiteral("Block size"));  // it sits among the buttons, without a label
    for (int size = 512; size < 32768; size *= 2) {
        m_blockSize->addItem(QString::asprintf("%d", size));
    }
    CProfile* profile = CProfile::Instance();
    const QString stored = profile->ReadString(kSection, BlockSizeKey(), QStringLiteral("512"));
    CProfile::Release();
    m_blockSize->setCurrentIndex(std::max(0, m_blockSize->findText(stored)));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("downloadProgress"));
    m_progress->hide();
    m_percent = new QLabel(this);
    m_percent->setObjectName(QStringLiteral("percentLabel"));
    m_speed = new CElidedLabel(this);
    m_speed->setObjectName(QStringLiteral("speedLabel"));
    m_path = new CElidedLabel(this);
    m_path->setObjectName(QStringLiteral("pathLabel"));

    connect(m_refresh, &QPushButton::clicked, this, &CDownloadFilesDlg::Refresh);
    connect(m_download, &QPushButton::clicked, this, &CDownloadFilesDlg::Download);
    connect(m_exit, &QPushButton::clicked, this, [this] { m_fm.Close(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_refresh);
    buttons->addWidget(m_download);
    buttons->addWidget(m_blockSize);
    buttons->addWidget(m_exit);
    auto* progress = new QHBoxLayout;
    progress->addWidget(m_progress, 1);
    progress->addWidget(m_percent);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_path);
    layout->addWidget(m_list, 1);
    layout->addLayout(progress);
    layout->addWidget(m_speed);
    layout->addLayout(buttons);
}

void CDownloadFilesDlg::ShowPath(const QString& folder)
{
    m_path->setText(folder);
}

QString CDownloadFilesDlg::SpeedLabel() const
{
    return m_speed->text();
}

void CDownloadFilesDlg::Refresh()
{
    m_fm.ForgetListing();
    m_fm.List(CFileManager::kDownloadPage);
    m_fm.SetStatus(QString());
}

void CDownloadFilesDlg::SortBy(int column)
{
    m_direction = -m_direction;
    m_sortColumn = column;
    SortFileList(m_list, m_sortColumn, m_direction);
}

void CDownloadFilesDlg::OnItemChanged(QTreeWidgetItem* item, int column)
{
    if (column != kColTarget) {
        return;
    }
    // The edited name is taken trimmed; a name that is no plain file name is refused and put back.
    const QSignalBlocker block(m_list);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    const QString edited = item->text(kColTarget).trimmed();
    const QString problem = FileNameProblem(edited);
    if (!problem.isEmpty()) {
        m_fm.SetStatus(problem + QStringLiteral(": \"") + PrintableName(item->text(kColTarget)) + QLatin1Char('"'));
        item->setText(kColTarget, item->text(kColName) + QStringLiteral(".kvs"));
        return;
    }
    item->setText(kColTarget, edited);
}

void CDownloadFilesDlg::SetRunning(bool running)
{
    m_download->setText(running ? QStringLiteral("Stop") : QStringLiteral("Download"));
    m_refresh->setEnabled(!running);
    m_exit->setEnabled(!running);
    m_blockSize->setEnabled(!running);
}

void CDownloadFilesDlg::Download()
{
    if (m_fm.Downloading()) {
        // Stop: the run still waits for the link's final notice of the file in transfer.
        m_fm.Receiver()->CancelDownload();
        m_fm.SetDownloading(false);
        return;
    }
    Run();
}

void CDownloadFilesDlg::OnNotice(const QByteArray& msg)
{
    const QByteArray id = msg.left(2);
    const QString text = QString::fromUtf8(msg.mid(3));
    if (id == "IN") {
        const int64_t received = m_fm.Receiver()->GetDownloadReceived();
        const int percent = DownloadPercent(received, m_total);
        m_percent->setText(QString::asprintf("%d%%", percent));
        m_progress->setValue(percent);
    } else if (id == "RT") {
        m_fm.SetStatus(text);
    } else if (id == "RE" || id == "ER") {
        m_received = id == "RE";
        if (m_endText.isEmpty()) {
            m_endText = text;
        }
        m_finished = true;
    } else {
        m_endText = QString::fromUtf8(msg);
        m_finished = true;
    }
}

void CDownloadFilesDlg::Run()
{
    // The selection is taken once: the user may re-sort the list while the run waits.
    std::vector<Selected> selected;
    for (QTreeWidgetItem* item : ChosenRows(m_list)) {
        selected.push_back({item, item->data(kColName, Qt::UserRole).toString(), item->text(kColTarget)});
    }
    if (selected.empty()) {
        m_fm.SetStatus(QStringLiteral("Select files to download"));
        return;
    }
    CReceiver* receiver = m_fm.Receiver();
    QPointer<CDownloadFilesDlg> self(this);
    auto onNotice = [self](CReceiver* r) {
        const QByteArray msg(r->getMsgBuf(0), r->getMsgBufSize());
        // The link's thread: the page is updated on its own.
        QMetaObject::invokeMethod(
            self.data(),
            [self, msg] {
                if (self) {
                    self->OnNotice(msg);
                }
            },
            Qt::QueuedConnection);
    };
    if (!receiver->Attach(0, onNotice, QStringLiteral("WL"), nullptr)) {
        m_fm.SetStatus(receiver->GetReplyString());
        return;
    }
    m_fm.StopPolling();
    m_fm.SetDownloading(true);
    SetRunning(true);

    for (const Selected& s : selected) {
        if (!m_fm.Downloading()) {
            break;
        }
        m_endText.clear();
        m_speed->clear();
        m_percent->clear();
        m_progress->setRange(0, 100);
        m_progress->setValue(0);
        m_progress->show();
        QString local;
        bool replace = false;
        const Destination destination = ChooseDestination(s.receiverName, s.targetName, &local, &replace);
        if (destination == Destination::CancelRun) {
            break;
        }
        if (destination == Destination::Go) {
            DownloadOne(receiver, s.receiverName, s.item, local, replace);
        }
    }
    m_fm.SetDownloading(false);
    receiver->Detach(0);
    m_progress->hide();
    SetRunning(false);
    m_list->setFocus();
    m_fm.StartPolling(CFileManager::kPollAfterDownloadMs);
}

CDownloadFilesDlg::Destination CDownloadFilesDlg::ChooseDestination(const QString& receiverName,
                                                                    const QString& targetName, QString* local,
                                                                    bool* replace)
{
    QString why = FileNameProblem(receiverName);
    *local = why.isEmpty() ? TargetPath(m_fm.OutputFolder(), targetName, &why) : QString();
    if (!why.isEmpty()) {
        m_fm.SetStatus(PrintableName(receiverName) + QStringLiteral(": ") + why);
        return Destination::Skip;
    }
    // Any kind of name counts, a dangling link too. "Yes" keeps the old file until the new one is complete
    // and verified: the link replaces it then, and a failed download leaves it as it was.
    *replace = false;
    if (QFileInfo(*local).exists() || QFileInfo(*local).isSymLink()) {
        const PromptButton answer = AskDestructive(
            QStringLiteral("The file\n") + *local + QStringLiteral("\nalready exists. Do you wish to overwrite it?"),
            kCaption, PromptButtons::YesNoCancel);
        if (answer == PromptButton::Cancel) {
            return Destination::CancelRun;
        }
        if (answer == PromptButton::No) {
            // A file the user keeps is never replaced, so this one is not downloaded.
            m_fm.SetStatus(QStringLiteral("Kept ") + *local);
            return Destination::Skip;
        }
        *replace = true;
    }
    return Destination::Go;
}

void CDownloadFilesDlg::DownloadOne(CReceiver* receiver, const QString& receiverName, QTreeWidgetItem* item,
                                    const QString& local, bool replace)
{
    const QString blockText = m_blockSize->currentText();
    CProfile* profile = CProfile::Instance();
    profile->WriteString(kSection, BlockSizeKey(), blockText);
    CProfile::Release();
    m_finished = false;
    m_received = false;
    if (!receiver->DownloadFile(receiverName, local, blockText.toInt(), replace)) {
        m_fm.SetStatus(receiver->GetReplyString());
        return;
    }
    const auto tick = m_fm.Context().tick;
    const int64_t start = tick ? tick() : 0;
    m_fm.SetStatus(QStringLiteral("Download file : ") + receiverName + QStringLiteral("  to  ") + local);
    m_total = receiver->GetDownloadSize();
    // Also a file of size zero is waited for: its final notice says how it went, and the run goes on. The link
    // sends it within its drain limit after a Stop; should it still not come, the run does not wait for ever.
    QElapsedTimer sinceStop;
    while (!m_finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
        if (!m_fm.Downloading() && !sinceStop.isValid()) {
            sinceStop.start();
        }
        if (sinceStop.isValid() && sinceStop.elapsed() > kStopWaitMs) {
            m_endText = QStringLiteral("Aborted: stopped by the user; the receiver did not confirm it");
            break;
        }
    }
    if (m_received) {
        // Unticked, so that a second Download goes on with what failed or was not reached.
        const QSignalBlocker block(m_list);
        item->setCheckState(kColTarget, Qt::Unchecked);
        item->setToolTip(kColTarget, QStringLiteral("Downloaded to ") + local);
    }
    const int64_t ms = tick ? tick() - start : 0;
    if (m_endText.startsWith(QLatin1String("Aborted"))) {
        m_fm.SetStatus(m_endText);
    } else {
        const QString speed = SpeedText(m_total, ms);
        m_speed->setText(speed);
        m_fm.SetStatus(speed + QLatin1Char(' ') + m_endText);
    }
}
