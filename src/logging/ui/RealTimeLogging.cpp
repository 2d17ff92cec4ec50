#include "logging/ui/RealTimeLogging.h"

#include "config/Toolkit.h"
#include "files/DownloadPathDlg.h"
#include "files/FileCore.h"
#include "link/Framer.h"
#include "link/Profile.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "logging/Convert2RinexDlg.h"
#include "logging/ForeignSplitter.h"
#include "logging/LogHealth.h"
#include "ui/ElidedLabel.h"
#include "ui/Prompts.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("RealTime");
const char* const kTypeNames[] = {"KVS", "CMR", "NMEA", "RTCM"};
const char* const kSelectionKeys[] = {"MsgKVS", "MsgCMR", "MsgNMEA", "MsgRTCM"};
const QString kTitle = QStringLiteral("Real-Time Logging");
const QString kAborted = QStringLiteral("Aborted by user!");

// The value inside a reply line "RE...{...}".
QString ReplyValue(const QString& line)
{
    const int open = int(line.indexOf(QLatin1Char('{')));
    return open < 0 ? QString() : line.mid(open).trimmed();
}

}  // namespace

CMessageRTL::CMessageRTL(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("messagePage"));
    type = new QComboBox(this);
    type->setObjectName(QStringLiteral("typeCombo"));
    for (const char* n : kTypeNames) {
        type->addItem(QLatin1String(n));
    }
    interval = new QLineEdit(this);
    interval->setObjectName(QStringLiteral("intervalEdit"));
    elevation = new QLineEdit(QStringLiteral("-90"), this);
    elevation->setObjectName(QStringLiteral("elevationEdit"));
    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("messageList"));
    list->setHeaderLabels({QStringLiteral("Msg"), QStringLiteral("Short description messages")});
    list->setRootIsDecorated(false);
    list->setSortingEnabled(true);
    allLock = new QPushButton(QStringLiteral("All to lock"), this);
    allLock->setObjectName(QStringLiteral("allLockButton"));
    allUse = new QPushButton(QStringLiteral("All to use"), this);
    allUse->setObjectName(QStringLiteral("allUseButton"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Type Msg :"), type);
    form->addRow(QStringLiteral("Rec. interval(s):"), interval);
    form->addRow(QStringLiteral("Elv. mask(°):"), elevation);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(allLock);
    buttons->addWidget(allUse);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list, 1);
    layout->addLayout(buttons);
    connect(type, &QComboBox::currentIndexChanged, this, [this](int i) { ShowType(i); });
    connect(allLock, &QPushButton::clicked, this, [this] { SetAll(false); });
    connect(allUse, &QPushButton::clicked, this, [this] { SetAll(true); });
    connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        const int row = item->data(0, Qt::UserRole).toInt();
        auto& entries = m_entries[size_t(Type())];
        if (row >= 0 && row < int(entries.size())) {
            entries[size_t(row)].use = item->checkState(0) == Qt::Checked;
        }
    });
}

void CMessageRTL::Fill(const std::array<QString, 4>& listValues, const std::array<QString, 4>& saved,
                       const QByteArray& catalogue)
{
    for (int t = 0; t < 4; ++t) {
        auto& entries = m_entries[size_t(t)];
        entries.clear();
        for (const QString& id : ParseMessageList(listValues[size_t(t)], LogType(t))) {
            entries.push_back({id, false, CatalogueDescription(catalogue, LogType(t), id)});
        }
        ApplySavedSelection(entries, saved[size_t(t)]);
    }
    ShowType(Type());
}

void CMessageRTL::ShowType(int t)
{
    const QSignalBlocker block(list);
    list->setSortingEnabled(false);
    list->clear();
    const auto& entries = m_entries[size_t(t)];
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].id.isEmpty()) {
            continue;
        }
        auto* item = new QTreeWidgetItem(list, {entries[i].id, entries[i].description});
        item->setData(0, Qt::UserRole, int(i));
        item->setCheckState(0, entries[i].use ? Qt::Checked : Qt::Unchecked);
    }
    list->setSortingEnabled(true);
}

int CMessageRTL::Type() const
{
    return type->currentIndex() < 0 ? 0 : type->currentIndex();
}

void CMessageRTL::SetAll(bool use)
{
    for (LogMessageEntry& e : m_entries[size_t(Type())]) {
        e.use = use && !e.id.isEmpty();
    }
    ShowType(Type());
}

bool CMessageRTL::HasRows(int t) const
{
    const auto& entries = m_entries[size_t(t)];
    return std::any_of(entries.begin(), entries.end(), [](const LogMessageEntry& e) { return !e.id.isEmpty(); });
}

void CMessageRTL::SetListEnabled(bool on)
{
    list->setEnabled(on);
    allLock->setEnabled(on);
    allUse->setEnabled(on);
}

CMultipleFile::CMultipleFile(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filePage"));
    single = new QRadioButton(QStringLiteral("Single file"), this);
    single->setObjectName(QStringLiteral("singleRadio"));
    multiple = new QRadioButton(QStringLiteral("Multiple Files"), this);
    multiple->setObjectName(QStringLiteral("multipleRadio"));
    multiple->setChecked(true);
    saveTo = new QLineEdit(QStringLiteral("Log.kvs"), this);
    saveTo->setObjectName(QStringLiteral("saveToEdit"));
    prefix = new QLineEdit(this);
    prefix->setObjectName(QStringLiteral("prefixEdit"));
    startCount = new QLineEdit(QStringLiteral("1"), this);
    startCount->setObjectName(QStringLiteral("startCountEdit"));
    every = new QLineEdit(this);
    every->setObjectName(QStringLiteral("everyEdit"));
    unit = new QComboBox(this);
    unit->setObjectName(QStringLiteral("unitCombo"));
    unit->addItems({QStringLiteral("minutes"), QStringLiteral("hours"), QStringLiteral("days")});
    numbering = new QComboBox(this);
    numbering->setObjectName(QStringLiteral("numberingCombo"));
    numbering->addItems({QStringLiteral("Ascending Count"), QStringLiteral("Date & Time")});
    overwrite = new QCheckBox(QStringLiteral("Overwrite files"), this);
    overwrite->setObjectName(QStringLiteral("overwriteCheck"));
    convert = new QCheckBox(QStringLiteral("Autoconvert to RINEX"), this);
    convert->setObjectName(QStringLiteral("convertCheck"));
    setupConvert = new QPushButton(QStringLiteral("Setup convert"), this);
    setupConvert->setObjectName(QStringLiteral("setupConvertButton"));
    auto* everyRow = new QHBoxLayout;
    everyRow->addWidget(every);
    everyRow->addWidget(unit);
    auto* form = new QFormLayout(this);
    form->addRow(single);
    form->addRow(QStringLiteral("Save to:"), saveTo);
    form->addRow(multiple);
    form->addRow(QStringLiteral("Prefix:"), prefix);
    form->addRow(QStringLiteral("Start count:"), startCount);
    form->addRow(QStringLiteral("New file every:"), everyRow);
    // A row of two fields has no buddy of its own: the label names the number, the unit is named apart.
    if (auto* label = qobject_cast<QLabel*>(form->labelForField(everyRow))) {
        label->setBuddy(every);
    }
    unit->setAccessibleName(QStringLiteral("New file every, unit"));
    form->addRow(QStringLiteral("Numbering:"), numbering);
    form->addRow(overwrite);
    form->addRow(convert);
    form->addRow(setupConvert);
}

COutputPathRTL::COutputPathRTL(const QString& folder, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pathPage"));
    tree = new CDownloadPathDlg(folder, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree);
}

CRealTimeLogging::CRealTimeLogging(const RealTimeLoggingContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_alive(std::make_shared<bool>(true))
{
    setObjectName(QStringLiteral("realTimeLogging"));
    setWindowTitle(kTitle);
    CreatePages();
    CreateLayout();
    ConnectEngine();
    FitToScreen(this, QSize(480, 640));
    OpenReceiver();
}

void CRealTimeLogging::CreatePages()
{
    CProfile* profile = CProfile::Instance();
    QString folder = profile->ReadString(kSection, QStringLiteral("OutputPath"), QString());
    folder = folder.isEmpty() ? DefaultDownloadFolder() : WithTrailingSeparator(folder);

    messagePage = new CMessageRTL(this);
    filePage = new CMultipleFile(this);
    pathPage = new COutputPathRTL(folder, this);
    messagePage->interval->setText(
        profile->ReadString(kSection, QStringLiteral("RecordingIntervalTerm"), QStringLiteral("1.00")));
    filePage->prefix->setText(profile->ReadString(kSection, QStringLiteral("Prefix"), QStringLiteral("Site")));
    filePage->every->setText(
        profile->ReadString(kSection, QStringLiteral("IntervalBetweenFiles"), QStringLiteral("10")));
    filePage->unit->setCurrentIndex(
        std::clamp(profile->ReadInt(kSection, QStringLiteral("GranularityBetweenFiles"), 0), 0, 2));
    filePage->overwrite->setChecked(profile->ReadInt(kSection, QStringLiteral("OverwriteFiles"), 0) != 0);
    filePage->convert->setChecked(profile->ReadInt(kSection, QStringLiteral("Convert2RINEX"), 0) != 0);
    std::array<QString, 4>& saved = m_savedSelections;
    for (int t = 0; t < 4; ++t) {
        saved[size_t(t)] = profile->ReadString(kSection, QLatin1String(kSelectionKeys[t]), QStringLiteral("ALL"));
    }
    CProfile::Release();
}

void CRealTimeLogging::CreateLayout()
{
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->addTab(messagePage, QStringLiteral("Message"));
    m_tabs->addTab(filePage, QStringLiteral("Log File"));
    m_tabs->addTab(pathPage, QStringLiteral("Output path"));
    m_status = new CElidedLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_progress = new CElidedLabel(this);
    m_progress->setObjectName(QStringLiteral("progressLabel"));
    m_health = new QLabel(this);
    m_health->setObjectName(QStringLiteral("healthLabel"));
    m_health->setWordWrap(true);
    startButton = new QPushButton(QStringLiteral("Start"), this);
    startButton->setObjectName(QStringLiteral("startButton"));
    defButton = new QPushButton(QStringLiteral("Def.Msg."), this);
    defButton->setObjectName(QStringLiteral("defMsgButton"));
    exitButton = new QPushButton(QStringLiteral("Exit"), this);
    exitButton->setObjectName(QStringLiteral("exitButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(startButton);
    buttons->addWidget(defButton);
    buttons->addStretch();
    buttons->addWidget(exitButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_health);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    connect(startButton, &QPushButton::clicked, this, [this] { StartStop(); });
    connect(defButton, &QPushButton::clicked, this, [this] { DefMsg(); });
    connect(exitButton, &QPushButton::clicked, this, [this] { Exit(); });
    connect(messagePage->type, &QComboBox::currentIndexChanged, this, [this](int t) {
        const bool kvs = t == 0;
        defButton->setEnabled(kvs);
        filePage->saveTo->setText(QStringLiteral("Log.") + LogTypeExtension(LogType(t)));
        messagePage->SetListEnabled(!kvs || defButton->text() != QLatin1String("Def.Msg."));
        filePage->convert->setEnabled(kvs);
        filePage->setupConvert->setEnabled(kvs);
    });
    messagePage->SetListEnabled(false);
    connect(filePage->setupConvert, &QPushButton::clicked, this, [this] { SetupConvert(); });
}

void CRealTimeLogging::ConnectEngine()
{
    // A stop the engine decides on the link's thread reaches the window here.
    std::weak_ptr<bool> alive = m_alive;
    m_engine.SetStoppedCallback([this, alive](const QString& why) {
        QMetaObject::invokeMethod(
            this,
            [this, alive, why] {
                if (alive.lock() && m_running) {
                    const LogCounts c = m_engine.Counts();
                    StopLogging(QStringLiteral("%1 (lost %2 messages, %3 bytes)")
                                    .arg(why)
                                    .arg(c.lostMessages)
                                    .arg(c.lostBytes));
                }
            },
            Qt::QueuedConnection);
    });
    // Each finished recording file is converted on a thread of its own; the file change that finishes one runs on
    // the link's thread, so the conversion is started from here.
    m_engine.SetFileDoneCallback([this](const QString& path) {
        if (QThread::currentThread() == thread()) {
            ConvertFinishedFile(path);
        } else {
            QMetaObject::invokeMethod(
                this, [this, path] { ConvertFinishedFile(path); }, Qt::QueuedConnection);
        }
    });
    m_conversions = new CRinexConversion(this);
    connect(m_conversions, &CRinexConversion::Finished, this, [this](const QString& path, const QString& result) {
        m_status->setText(result.isEmpty() ? QStringLiteral("KVS to RINEX : ") + QFileInfo(path).fileName() +
                                                 QStringLiteral(" converted")
                                           : result);
    });
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { Tick(); });
    m_timer->start();
}

void CRealTimeLogging::OpenReceiver()
{
    m_status->setText(QStringLiteral("Open receiver : ") + m_context.receiverName);
    m_receiver = m_context.holder ? m_context.holder->GetReceiver() : nullptr;
    // The live view closed the shared receiver when it stopped for this dialog.
    if (!m_receiver || !m_receiver->Open(m_context.connection, m_context.receiverName, 0)) {
        m_status->setText(m_receiver ? m_receiver->GetReplyString().trimmed() : QStringLiteral("No receiver"));
        m_tabs->setEnabled(false);
        startButton->setEnabled(false);
        defButton->setEnabled(false);
        return;
    }
    // Message lists, one batch for the four types.
    std::array<QString, 4> values;
    if (m_receiver->SendCommand(QStringLiteral("@scr stoperrors off\nlist,/msg/kvs\nlist,/msg/cmr\nlist,/msg/nmea\n"
                                               "list,/msg/rtcm\n@end\n"))) {
        const QStringList lines = m_receiver->GetReplyString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        int t = 0;
        for (const QString& line : lines) {
            if (t < 4 && (line.startsWith(QLatin1String("RE")) || line.startsWith(QLatin1String("ER")))) {
                values[size_t(t++)] = line.startsWith(QLatin1String("RE")) ? ReplyValue(line) : QString();
            }
        }
    } else {
        m_status->setText(QStringLiteral("Error reading MSG info."));
    }
    messagePage->Fill(values, m_savedSelections, LoadCatalogue(QCoreApplication::applicationDirPath()));
    AttachTimeOnly();
}

CRealTimeLogging::~CRealTimeLogging()
{
    *m_alive = false;
    if (!m_exited) {
        Exit();
    }
}

void CRealTimeLogging::AttachTimeOnly()
{
    CLogEngine* engine = &m_engine;
    m_receiver->Attach(
        0,
        [engine](CReceiver* r) {
            if (!r->IsMsgBufEmpty()) {
                engine->Feed(r->getMsgBuf(0), r->getMsgBufSize(), r->getMsgChannel());
            }
        },
        QStringLiteral("RT:1,RD:1"), nullptr);
}

QString CRealTimeLogging::Status() const
{
    return m_status->text();
}

QString CRealTimeLogging::Health() const
{
    return m_health->text();
}

QString CRealTimeLogging::OutputFolder() const
{
    return pathPage->tree->Folder();
}

void CRealTimeLogging::SetControlsEnabled(bool on)
{
    exitButton->setEnabled(on);
    defButton->setEnabled(on && messagePage->Type() == 0);
    filePage->single->setEnabled(on);
    filePage->multiple->setEnabled(on);
    messagePage->type->setEnabled(on);
    filePage->convert->setEnabled(on && messagePage->Type() == 0);
    filePage->setupConvert->setEnabled(on && messagePage->Type() == 0);
}

void CRealTimeLogging::SetupConvert()
{
    auto* dialog = new CConvert2RINEX(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

int CRealTimeLogging::ConversionsRunning() const
{
    return m_conversions ? m_conversions->Running() : 0;
}

void CRealTimeLogging::ConvertFinishedFile(const QString& path)
{
    if (m_type != 0 || !filePage->convert->isChecked() || !m_conversions) {
        return;
    }
    RinexConversionJob job;
    CProfile* profile = CProfile::Instance();
    job.settings = RinexConverterSettings::Load(*profile);
    CProfile::Release();
    job.receiver = m_context.receiver;
    // The folder the file was written to, not the one shown now: the output path may have changed since.
    const QFileInfo file(path);
    job.kvsPath = file.absoluteFilePath();
    job.folder = file.absolutePath() + QLatin1Char('/');
    m_conversions->Start(job);
}

void CRealTimeLogging::DefMsg()
{
    defButton->setText(defButton->text() == QLatin1String("Def.Msg.") ? QStringLiteral("List Msg.")
                                                                      : QStringLiteral("Def.Msg."));
    messagePage->SetListEnabled(messagePage->Type() != 0 || defButton->text() != QLatin1String("Def.Msg."));
}

void CRealTimeLogging::StartStop()
{
    if (startButton->text() == QLatin1String("Start")) {
        startButton->setText(QStringLiteral("Stop"));
        SetControlsEnabled(false);
        if (!Start() && !m_running && startButton->text() == QLatin1String("Stop") && exitButton->isEnabled()) {
            startButton->setText(QStringLiteral("Start"));
        }
        return;
    }
    startButton->setText(QStringLiteral("Start"));
    SetControlsEnabled(true);
    if (m_running) {
        StopLogging(kAborted);
    }
}

bool CRealTimeLogging::Start()
{
    m_status->setText(QStringLiteral("Open receiver : ") + m_context.receiverName);
    m_progress->clear();
    m_type = messagePage->Type();
    const bool kvs = m_type == 0;
    const bool defaults = kvs && defButton->text() == QLatin1String("Def.Msg.");
    if (!m_receiver->SendCommand(QStringLiteral("%%set,/par/out/elm/cur/term,") +
                                 messagePage->elevation->text().trimmed())) {
        m_status->setText(QStringLiteral("Invalid elevation mask"));
        return false;
    }
    const QString interval = messagePage->interval->text().trimmed();
    bool ok = true;
    const double seconds = interval.isEmpty() ? 1.0 : interval.toDouble(&ok);
    if (!ok || seconds <= 0 || (!interval.isEmpty() && !CheckOutputPeriod(seconds))) {
        m_status->setText(QStringLiteral("Invalid recording interval"));
        return false;
    }
    const QStringList ids = defaults ? QStringList() : SelectedMessages(messagePage->Entries(m_type));
    if (ids.size() > kMaxSelectedMessages) {
        startButton->setText(QStringLiteral("Start"));
        SetControlsEnabled(true);
        m_status->setText(QStringLiteral("Messages > 48!!!"));
        return false;
    }
    const LogOptions o = FileOptions(seconds, defaults);
    if (!ConfirmOverwrite(o)) {
        startButton->setText(QStringLiteral("Start"));
        SetControlsEnabled(true);
        m_status->setText(kAborted);
        return false;
    }
    if (kvs && m_context.holder) {
        QString why;
        SendSiteEvents(*m_context.holder, m_context.site, &why);  // a refused site does not stop the recording
    }
    QString error;
    if (!m_engine.Start(o, &error)) {
        StopLogging(error);
        startButton->setText(QStringLiteral("Start"));
        SetControlsEnabled(true);
        return false;
    }
    m_running = true;
    m_lastCounts = LogCounts();
    QString why;
    if (!StartOutput(defaults, ids, interval.isEmpty() ? QStringLiteral("1.00") : interval, &why)) {
        StopLogging(why);
        startButton->setText(QStringLiteral("Start"));
        SetControlsEnabled(true);
        return false;
    }
    return true;
}

LogOptions CRealTimeLogging::FileOptions(double seconds, bool defaults) const
{
    LogOptions o;
    o.type = LogType(m_type);
    o.folder = OutputFolder();
    o.singleFile = filePage->single->isChecked();
    o.singleName = filePage->saveTo->text().trimmed();
    o.prefix = filePage->prefix->text().trimmed();
    o.timeNames = filePage->numbering->currentIndex() == 1;
    o.counter = filePage->startCount->text().trimmed().toInt();
    o.every = std::max(1, filePage->every->text().trimmed().toInt());
    o.unitSeconds = std::array<int, 3>{60, 3600, 86400}[size_t(std::clamp(filePage->unit->currentIndex(), 0, 2))];
    o.overwrite = filePage->overwrite->isChecked();
    o.interval = seconds;
    o.ownHeader = defaults;  // the default set brings its MF every epoch: each file starts at an epoch with its own
    return o;
}

bool CRealTimeLogging::ConfirmOverwrite(const LogOptions& o) const
{
    if (!o.singleFile && !o.timeNames && o.overwrite &&
        AskDestructive(QStringLiteral("All the files with names like ") + o.prefix + QStringLiteral("000.kvs, ") +
                           o.prefix + QStringLiteral("001.kvs etc. in the folder\n") + o.folder +
                           QStringLiteral("\nwill be overwritten without a warning. Continue?"),
                       kTitle) != PromptButton::Yes) {
        return false;
    }
    return !(o.singleFile && QFileInfo::exists(o.folder + o.singleName) &&
             AskDestructive(QStringLiteral("The file ") + o.singleName +
                                QStringLiteral(" already exists.\nDo you wish to overwrite it?"),
                            kTitle) != PromptButton::Yes);
}

bool CRealTimeLogging::StartOutput(bool defaults, const QStringList& ids, const QString& period, QString* why)
{
    // Every recording reads the receiver's raw output, so that long selections can be enabled in several
    // statements and the default set arrives whole; the time attachment of the idle dialog stays only for the
    // other formats, whose files change at the receiver's time.
    CLogEngine* engine = &m_engine;
    QStringList statements;
    CReceiver::RawOutputCallback raw;
    if (m_type == 0) {
        m_receiver->Detach(0);
        statements = defaults ? QStringList{QStringLiteral("em,,def:{%1}&&em,,kvs/EE:{%1}").arg(period)}
                              : EmStatements(LogType::Kvs,
                                             QStringList{QStringLiteral("RD"), QStringLiteral("RT"),
                                                         QStringLiteral("KV"), QStringLiteral("MF")} +
                                                 ids + QStringList{QStringLiteral("EE")},
                                             period);
        auto framer = std::make_shared<CFramer>();
        raw = [engine, framer](const char* data, int size) {
            framer->Feed(data, size_t(size), [engine](const CFramer::Event& e) {
                if (e.kind == CFramer::EventKind::Frame) {
                    engine->Feed(e.data, e.size, 0);
                }
            });
        };
    } else {
        statements = EmStatements(LogType(m_type), ids, period);
        auto splitter = std::make_shared<CForeignSplitter>();
        const int channel = m_type;
        raw = [engine, splitter, channel](const char* data, int size) {
            splitter->Feed(data, size, [engine, channel](const char* d, int n, CForeignSplitter::Kind) {
                engine->Feed(d, n, channel);
            });
        };
    }
    if (statements.isEmpty()) {
        *why = QStringLiteral("Empty message set");
        return false;
    }
    for (const QString& statement : statements) {
        if (!m_receiver->SendCommand(statement, raw)) {
            *why = m_receiver->GetReplyString().trimmed();
            return false;
        }
    }
    return true;
}

void CRealTimeLogging::StopLogging(const QString& message)
{
    m_status->setText(message);
    // Messages stop first (never under the engine's lock), then the file is closed with its last message whole.
    if (m_receiver && m_receiver->IsOpen()) {
        m_receiver->SendCommand(QStringLiteral("dm"), nullptr);
    }
    m_engine.Stop();
    if (m_engine.GetState() == CLogEngine::State::Failed && message == kAborted) {
        m_status->setText(m_engine.LastError());
    }
    if (m_receiver && m_receiver->IsOpen()) {
        m_receiver->Detach(0);
        AttachTimeOnly();
    }
    m_running = false;
    startButton->setText(QStringLiteral("Start"));
    SetControlsEnabled(true);
}

void CRealTimeLogging::Tick()
{
    if (!m_running) {
        return;
    }
    if (!m_receiver->IsOpen()) {
        StopLogging(QStringLiteral("The link to the receiver was lost; the files written so far are kept."));
        return;
    }
    const LogCounts c = m_engine.Counts();
    m_progress->setText(QStringLiteral(" %1/%2/%3").arg(m_engine.FileName()).arg(c.fileMessages).arg(c.fileBytes));
    m_health->setText(LogHealthLine(c, m_lastCounts, m_timer->interval() / 1000.0,
                                    m_receiver->GetStreamStats().badChecksums, FreeBytesAt(OutputFolder())));
    m_lastCounts = c;
}

void CRealTimeLogging::Exit()
{
    if (m_exited) {
        return;
    }
    m_exited = true;
    if (m_running) {
        StopLogging(kAborted);
    }
    if (m_receiver && m_receiver->IsOpen()) {
        m_receiver->Detach(0);
    }
    m_engine.Stop();
    CProfile* profile = CProfile::Instance();
    profile->WriteString(kSection, QStringLiteral("OutputPath"), OutputFolder());
    profile->WriteString(kSection, QStringLiteral("Prefix"), filePage->prefix->text());
    profile->WriteInt(kSection, QStringLiteral("Convert2RINEX"), filePage->convert->isChecked() ? 1 : 0);
    profile->WriteInt(kSection, QStringLiteral("OverwriteFiles"), filePage->overwrite->isChecked() ? 1 : 0);
    profile->WriteInt(kSection, QStringLiteral("GranularityBetweenFiles"), filePage->unit->currentIndex());
    profile->WriteString(kSection, QStringLiteral("IntervalBetweenFiles"), filePage->every->text());
    profile->WriteString(kSection, QStringLiteral("RecordingIntervalTerm"), messagePage->interval->text());
    for (int t = 0; t < 4; ++t) {
        // A list that did not load is no choice of the user's: the saved one stays.
        profile->WriteString(
            kSection, QLatin1String(kSelectionKeys[t]),
            messagePage->HasRows(t) ? SavedSelection(messagePage->Entries(t)) : m_savedSelections[size_t(t)]);
    }
    CProfile::Release();
    // A file change just before the stop may still be on its way from the link's thread.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (m_conversions && m_conversions->Running() > 0 && QCoreApplication::instance()) {
        // The conversions still running end on their own after the window is gone; nobody waits for them here.
        CRinexConversion* conversions = m_conversions;
        m_conversions = nullptr;
        conversions->disconnect(this);
        conversions->setParent(QCoreApplication::instance());
        connect(conversions, &CRinexConversion::Finished, conversions, [conversions] {
            if (conversions->Running() == 0) {
                conversions->deleteLater();
            }
        });
    }
    QDialog::reject();
}

void CRealTimeLogging::closeEvent(QCloseEvent* event)
{
    // Closing the window stops the recording as Stop does.
    Exit();
    event->accept();
}

void CRealTimeLogging::reject()
{
    Exit();
}

void RunRealTimeLogging(const RealTimeLoggingContext& context, QWidget* parent)
{
    CRealTimeLogging dialog(context, parent);
    dialog.exec();
}
