#include "files/CurrentLogFileDlg.h"

#include "config/Toolkit.h"
#include "files/FileCore.h"
#include "files/FileManager.h"
#include "link/FileListing.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/Prompts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kDeleteCaption = QStringLiteral("Deleting files from receiver");

}  // namespace

QString& CCurrentLogFileDlg::LastInterval()
{
    static QString interval = QStringLiteral("1.00");
    return interval;
}

CCurrentLogFileDlg::CCurrentLogFileDlg(CFileManager& manager) : m_fm(manager)
{
    setObjectName(QStringLiteral("currentLogFilePage"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("logFileList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setRootIsDecorated(false);
    connect(m_list->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        m_direction = -m_direction;
        m_sortColumn = column;
        SortFileList(m_list, m_sortColumn, m_direction);
    });
    connect(m_list, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ActivateRow(m_list->indexOfTopLevelItem(item)); });
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("logFileNameEdit"));
    m_interval = new QLineEdit(LastInterval(), this);
    m_interval->setObjectName(QStringLiteral("recIntervalEdit"));
    m_mask = new QLineEdit(this);
    m_mask->setObjectName(QStringLiteral("elvMaskEdit"));
    m_refresh = new QPushButton(QStringLiteral("Refresh"), this);
    m_refresh->setObjectName(QStringLiteral("logRefreshButton"));
    m_startStop = new QPushButton(QStringLiteral("Start"), this);
    m_startStop->setObjectName(QStringLiteral("startStopButton"));
    m_delete = new QPushButton(QStringLiteral("Delete"), this);
    m_delete->setObjectName(QStringLiteral("deleteButton"));
    m_exit = new QPushButton(QStringLiteral("Exit"), this);
    m_exit->setObjectName(QStringLiteral("logExitButton"));
    m_site = new QPushButton(QStringLiteral("Site parameters"), this);
    m_site->setObjectName(QStringLiteral("siteButton"));
    m_site->setEnabled(bool(m_fm.Context().siteDialog));

    connect(m_refresh, &QPushButton::clicked, this, &CCurrentLogFileDlg::Refresh);
    connect(m_startStop, &QPushButton::clicked, this, &CCurrentLogFileDlg::StartOrStop);
    connect(m_delete, &QPushButton::clicked, this, &CCurrentLogFileDlg::Delete);
    connect(m_exit, &QPushButton::clicked, this, [this] { m_fm.Close(); });
    connect(m_site, &QPushButton::clicked, this, [this] { m_fm.Context().siteDialog(this); });

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File name:"), m_name);
    form->addRow(QStringLiteral("Rec. interval(s):"), m_interval);
    form->addRow(QStringLiteral("Elv. mask(°):"), m_mask);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_refresh, m_startStop, m_delete, m_exit}) {
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_site);

    CReceiverHolder& holder = m_fm.Holder();
    if (holder.Send(QStringLiteral("print,/par/out/elm/cur/log"))) {
        m_mask->setText(AnswerValue(holder.Reply()));
    }
}

void CCurrentLogFileDlg::ShowLogging(bool logging, const QString& name)
{
    m_logging = logging;
    m_startStop->setText(logging ? QStringLiteral("Stop") : QStringLiteral("Start"));
    if (logging) {
        m_name->setText(name);
    }
    m_name->setEnabled(!logging);
    m_interval->setEnabled(!logging);
    m_mask->setEnabled(!logging);
}

bool CCurrentLogFileDlg::SendOrReport(const QString& command)
{
    CReceiverHolder& holder = m_fm.Holder();
    if (holder.Send(command)) {
        return true;
    }
    m_fm.SetStatus(holder.Reply());
    return false;
}

void CCurrentLogFileDlg::StartOrStop()
{
    if (m_logging) {
        Stop();
    } else {
        Start();
    }
}

void CCurrentLogFileDlg::Start()
{
    // The mask goes into a command: a plain integer of the receiver's range only.
    bool maskOk = false;
    const int mask = m_mask->text().trimmed().toInt(&maskOk);
    if (!maskOk || mask < -90 || mask > 90) {
        m_fm.SetStatus(QStringLiteral("Invalid elevation mask"));
        m_mask->setFocus();
        return;
    }
    if (!SendOrReport(QStringLiteral("%%set,/par/out/elm/cur/log,") + QString::number(mask))) {
        m_mask->setFocus();
        return;
    }
    const QString interval = m_interval->text().trimmed();
    bool intervalOk = false;
    const double seconds = interval.toDouble(&intervalOk);
    if (!intervalOk || !IsNumberText(interval) || !CheckOutputPeriod(seconds)) {
        m_fm.SetStatus(QStringLiteral("Invalid recording interval"));
        m_interval->setFocus();
        return;
    }
    LastInterval() = interval;
    const QString name = m_name->text().trimmed();
    if (name.isEmpty()) {
        m_fm.SetStatus(QStringLiteral("A file name is empty!"));
        return;
    }
    const QString problem = FileNameProblem(name);
    if (!problem.isEmpty()) {
        m_fm.SetStatus(problem + QStringLiteral(": \"") + PrintableName(name) + QLatin1Char('"'));
        return;
    }
    bool exists = false;
    for (const ReceiverFileRecord& r : m_fm.Records()) {
        exists = exists || r.name.trimmed() == name;
    }
    if (exists) {
        const PromptButton answer =
            AskDestructive(QStringLiteral("The file\n") + name +
                               QStringLiteral("\nalready exists inside the receiver.\nDo you wish to overwrite it?"),
                           QStringLiteral("Attention"));
        if (answer != PromptButton::Yes) {
            m_fm.SetStatus(QStringLiteral("File already exists"));
            return;
        }
        m_fm.SetStatus(QStringLiteral(" Deleting old file..."));
        if (!SendOrReport(QStringLiteral("remove,\"/log/") + name + QLatin1Char('"'))) {
            return;
        }
    }
    m_fm.SetStatus(QStringLiteral("Creating new file..."));
    if (!SendOrReport(QStringLiteral("create,\"/log/") + name + QLatin1Char('"'))) {
        return;
    }
    m_fm.SetStatus(QStringLiteral("Starting data collection..."));
    if (!SendOrReport(QStringLiteral("em,/cur/log,/msg/def:{") + interval + QStringLiteral(",0}"))) {
        return;
    }
    m_fm.ForgetListing();
    m_fm.List(CFileManager::kDownloadPage);
    m_fm.List(CFileManager::kLogPage);
    m_fm.Poll();
}

void CCurrentLogFileDlg::Stop()
{
    if (SendOrReport(QStringLiteral("dm,/cur/log"))) {
        m_fm.SetStatus(QStringLiteral("Data collection stopped"));
        m_name->clear();
        m_fm.Poll();
    }
}

void CCurrentLogFileDlg::Delete()
{
    QStringList names;
    for (const QTreeWidgetItem* item : ChosenRows(m_list)) {
        names << item->data(kColName, Qt::UserRole).toString();
    }
    if (names.isEmpty()) {
        m_fm.SetStatus(QStringLiteral("Select files to delete"));
        return;
    }
    const int n = int(names.size());
    if (AskDestructive(
            QString::asprintf("Do you really want to delete %d file%s from the receiver?", n, n == 1 ? "" : "s"),
            kDeleteCaption) != PromptButton::Yes) {
        return;
    }
    CReceiverHolder& holder = m_fm.Holder();
    if (!SendOrReport(QStringLiteral("print,/cur/log"))) {
        return;
    }
    const QString currentPath = AnswerValue(holder.Reply());
    const QString current = currentPath.size() > 5 ? currentPath.mid(5) : QString();
    for (QPushButton* b : {m_refresh, m_delete, m_exit, m_startStop}) {
        b->setEnabled(false);
    }
    auto keepCurrent = [&] {
        return AskDestructive(QLatin1Char('\'') + current +
                                  QStringLiteral("' is the current log file.\nDo you really want to delete it?"),
                              kDeleteCaption) != PromptButton::Yes;
    };
    // Every file selected: the files are listed again first, so that "remove,/log/" deletes only what the user
    // saw, and the current log file gets its question like any other.
    bool removeAll = n == int(m_fm.Records().size());
    bool asked = false;
    if (removeAll) {
        m_fm.ForgetListing();
        m_fm.List(CFileManager::kLogPage);
        QStringList fresh;
        for (const ReceiverFileRecord& r : m_fm.Records()) {
            fresh << r.name;
        }
        QStringList chosen = names;
        fresh.sort();
        chosen.sort();
        removeAll = fresh == chosen;
    }
    if (removeAll && !current.isEmpty() && names.contains(current)) {
        asked = true;
        if (keepCurrent()) {
            removeAll = false;
            names.removeAll(current);
        }
    }
    if (removeAll) {
        SendOrReport(QStringLiteral("remove,/log/"));
    } else {
        for (const QString& name : names) {
            const QString problem = FileNameProblem(name);
            if (!problem.isEmpty()) {
                // Never "remove,"/log/"" (every file) or a path of the receiver outside its log folder.
                m_fm.SetStatus(problem + QStringLiteral(": \"") + PrintableName(name) + QLatin1Char('"'));
                continue;
            }
            if (name == current && !asked && keepCurrent()) {
                continue;
            }
            if (!SendOrReport(QStringLiteral("remove,\"/log/") + name + QLatin1Char('"'))) {
                break;
            }
        }
    }
    m_fm.ForgetListing();
    m_fm.List(CFileManager::kDownloadPage);
    m_fm.List(CFileManager::kLogPage);
    for (QPushButton* b : {m_refresh, m_delete, m_exit, m_startStop}) {
        b->setEnabled(true);
    }
}

void CCurrentLogFileDlg::Refresh()
{
    m_fm.ForgetListing();
    m_fm.List(CFileManager::kLogPage);
}

void CCurrentLogFileDlg::ActivateRow(int row)
{
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (item && m_name->isEnabled()) {
        m_name->setText(item->text(kColName));
    }
}
