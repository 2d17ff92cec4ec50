#include "files/Format.h"

#include "files/FileCore.h"
#include "link/FileListing.h"
#include "link/ParamBatch.h"
#include "link/Profile.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/Prompts.h"
#include "ui/WindowFit.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTime>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("FileSystem");
const QString kReportFolderKey = QStringLiteral("ReportFolder");

const QString kReportBatch = QStringLiteral(
    "@scr stoperrors off\nprint,/par/dev/blk/a/ver\nprint,/par/dev/blk/a/block_size\nprint,/par/dev/blk/a/blocks\n"
    "print,/par/dev/blk/a/size\nprint,/par/dev/blk/a/free\nprint,/par/dev/blk/a/bad_blocks\n"
    "print,/par/dev/blk/a/verify\nprint,/dev/blk/a&block_size\nprint,/dev/blk/a&blocks\nprint,stat/rw\n@end\n");

}  // namespace

CFormat::CFormat(const FormatContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("formatDialog"));
    setWindowTitle(QStringLiteral("Initializing Receiver File System"));
    m_warning = new QLabel(QStringLiteral("This is your last chance to cancel\ninitializing the receiver's file "
                                          "system.\nPress Start to continue with initializing."),
                           this);
    m_warning->setObjectName(QStringLiteral("warningText"));
    m_warning->setWordWrap(true);  // it also shows the receiver's texts, which must not widen the window
    m_wait = new QLabel(QStringLiteral("Please wait!"), this);
    m_wait->setObjectName(QStringLiteral("waitText"));
    m_wait->hide();
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("fsinitProgress"));
    m_progress->setTextVisible(true);
    m_progress->hide();
    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_start->setObjectName(QStringLiteral("startButton"));
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_save = new QPushButton(QStringLiteral("Save to file"), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->hide();
    m_report = new QPlainTextEdit(this);
    m_report->setObjectName(QStringLiteral("reportText"));
    m_report->setReadOnly(true);
    m_report->hide();
    // Enter must not erase the receiver's files: the safe button is the default and has the focus.
    m_cancel->setDefault(true);
    m_cancel->setFocus();
    connect(m_start, &QPushButton::clicked, this, &CFormat::Start);
    connect(m_cancel, &QPushButton::clicked, this, &CFormat::Cancel);
    connect(m_save, &QPushButton::clicked, this, &CFormat::SaveToFile);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_warning, m_wait, m_progress, m_report, m_start, m_save, m_cancel}) {
        layout->addWidget(w);
    }
    FitToScreen(this);
    CReceiver* receiver = m_context.holder->GetReceiver().get();
    if (!receiver->Open(m_context.connection, m_context.receiverName, 0)) {
        m_warning->setText(receiver->GetReplyString());
        m_start->setEnabled(false);
    }
}

void CFormat::EndRun(const QString& why)
{
    // The initialisation's end is unknown: no "Ready!", no report to save.
    m_wait->hide();
    m_progress->hide();
    m_warning->setText(why);
    m_warning->show();
    m_start->setEnabled(m_context.holder->GetReceiver()->IsOpen());
}

void CFormat::Start()
{
    // The dialog's warning was the confirmation of the first run only: a second erase is asked for again.
    if (m_started && AskDestructive(QStringLiteral("Initialize the receiver's file system again?\nAll the files inside "
                                                   "the receiver will be erased."),
                                    QStringLiteral("Initialize File System")) != PromptButton::Yes) {
        return;
    }
    CReceiverHolder& holder = *m_context.holder;
    m_started = true;
    m_save->hide();
    m_report->hide();
    m_reportText.clear();
    m_wait->setText(QStringLiteral("Please wait!"));
    if (!holder.Send(QStringLiteral("%%init,/dev/blk/a"))) {
        m_warning->setText(holder.Reply());
        return;
    }
    m_start->setEnabled(false);
    m_warning->hide();
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    m_progress->show();
    m_wait->show();
    m_cancelled = false;
    // A receiver whose progress never reads is given up after this many replies in a row.
    int unreadable = 0;
    for (;;) {
        for (int waited = 0; waited < m_context.stepMs && !m_cancelled; waited += 10) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(10);
        }
        if (m_cancelled) {
            return;  // the dialog is closing
        }
        if (!holder.Send(QStringLiteral("print,stat/fsinit"))) {
            EndRun(holder.Reply());
            return;
        }
        long long total = 0;
        long long done = 0;
        if (ScanText(holder.Reply(), "RE%*[^{]{%lld,%lld}", &total, &done) == 2) {
            unreadable = 0;
            m_progress->setFormat(QString::asprintf("%lld of %lld", done, total));
            m_progress->setValue(FsinitPercent(total, done));
            // Done at or past the total; a total of 0 means there is nothing to wait for.
            if (FsinitFinished(total, done)) {
                break;
            }
        } else if (++unreadable >= kMaxUnreadableProgress) {
            EndRun(QStringLiteral("The receiver's progress can't be read: ") + PrintableName(holder.Reply().trimmed()));
            return;
        }
        QCoreApplication::processEvents();
    }
    CParamBatch batch(holder);
    if (!batch.Run(kReportBatch)) {
        // The erase has finished, but with nothing to report "Save to file" would write an empty report.
        EndRun(QStringLiteral("The file system is initialized; its report can't be read: ") +
               PrintableName(batch.FailureText()));
        return;
    }
    m_wait->setText(QStringLiteral("Ready!"));
    m_progress->hide();
    m_start->setEnabled(true);
    m_save->show();
    std::array<const QString*, kReportSlots> values{};
    for (int i = 0; i < kReportSlots; ++i) {
        values[size_t(i)] = batch[i];
    }
    m_reportText = BuildReport(values);
    m_report->setPlainText(m_reportText);
    m_report->show();
}

QString CFormat::BuildReport(const std::array<const QString*, kReportSlots>& s)
{
    static const char* const kLines[] = {
        "Version:\t\t\t",  "Block size(b):\t\t", "Blocks:\t\t\t",      "Total memory(b):\t\t",  "Free memory(b):\t\t",
        "Bad blocks:\t\t", "Write verify:\t\t",  "Block size(b):\t\t", "Blocks for files:\t\t",
    };
    QString text = QStringLiteral("------- File System Information -------\r\n");
    for (int i = 0; i < 9; ++i) {
        if (i == 7) {
            text += QStringLiteral("----- Physical Memory Information -----\r\n");
        }
        if (s[size_t(i)]) {
            text += QLatin1String(kLines[i]) + *s[size_t(i)] + QStringLiteral("\r\n");
        }
    }
    text += QStringLiteral("----- Read/Write Information ----------\r\n");
    int n[6] = {};
    if (s[9] && ScanText(*s[9], "{{%d,%d,%d},{%d,%d,%d}}", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) == 6) {
        text += QString::asprintf(
            "Reading number:\t\t%d\r\nReading errors:\t\t%d\r\nReading fatal errors:\t%d\r\n"
            "Writing number:\t\t%d\r\nWriting errors:\t\t%d\r\nWriting fatal errors:\t\t%d",
            n[0], n[1], n[2], n[3], n[4], n[5]);
    }
    return text;
}

void CFormat::Cancel()
{
    m_cancelled = true;
    reject();
}

bool CFormat::SaveToFile()
{
    FileChooserOptions options;
    options.title = QStringLiteral("Save to file");
    CProfile* profile = CProfile::Instance();
    options.folder = ChooserFolder(profile->ReadString(kSection, kReportFolderKey, QString()));
    CProfile::Release();
    options.filters = {QStringLiteral("Text files(*.txt)")};
    options.defaultSuffix = QStringLiteral("txt");
    options.confirmOverwrite = true;
    const FileChoice choice = Prompts().SaveFile(options);
    if (!choice.Accepted()) {
        return false;
    }
    profile = CProfile::Instance();
    profile->WriteString(kSection, kReportFolderKey, FolderOf(choice.path));
    CProfile::Release();
    QFile file(choice.path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ShowMessage(QStringLiteral("Can't write ") + choice.path, QStringLiteral("Save to file"), PromptIcon::Error);
        return false;
    }
    const QString header = QStringLiteral("Created by Nemola-M ") + m_context.buildDate + QLatin1Char(' ') +
                           m_context.version + QStringLiteral("\r\n") +
                           QLocale().toString(QDate::currentDate(), QLocale::LongFormat) + QLatin1Char(' ') +
                           QLocale().toString(QTime::currentTime(), QLocale::ShortFormat) + QStringLiteral("\r\n");
    // UTF-8: the report is ASCII, the localised date may not be.
    return file.write((header + m_reportText).toUtf8()) >= 0 && file.flush();
}

QString CFormat::WarningText() const
{
    return m_warning->text();
}

QString CFormat::ProgressText() const
{
    return m_progress->format();
}

int CFormat::ProgressValue() const
{
    return m_progress->value();
}

QString CFormat::Report() const
{
    return m_reportText;
}

void RunFormat(const FormatContext& context, QWidget* parent)
{
    CFormat dialog(context, parent);
    dialog.exec();
}
