#include "sim/Simulator.h"

#include "sim/SimCommands.h"
#include "sim/SimCore.h"

#include <QLoggingCategory>

#include <condition_variable>
#include <thread>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace {

// The host's end of one port. It keeps the receiver's state alive, so a link may close it after the receiver
// object is gone.
class CSimSessionHandle : public IDeviceSession
{
public:
    CSimSessionHandle(std::shared_ptr<CSimCore> core, int id) : m_core(std::move(core)), m_id(id) {}
    ~CSimSessionHandle() override
    {
        std::lock_guard lock(m_core->mutex);
        m_core->CloseSession(m_id);
    }
    void Write(const QByteArray& bytes) override
    {
        std::lock_guard lock(m_core->mutex);
        m_core->Input(m_id, bytes);
    }

private:
    std::shared_ptr<CSimCore> m_core;
    int m_id;
};

QString FullPath(const QString& path)
{
    const QString p = path.trimmed();
    return p.startsWith(QLatin1Char('/')) ? p : QStringLiteral("/par/") + p;
}

void Mark(QSet<QString>& paths, const QString& path, bool on)
{
    if (on) {
        paths.insert(path);
    } else {
        paths.remove(path);
    }
}

}  // namespace

// 2024-06-01 08:00 UTC in receiver seconds (since 1988).
constexpr int64_t kSampleFileTime = 1717228800LL - 567993600LL;

struct SimState
{
    std::shared_ptr<CSimCore> core;
    QString creationError;
    std::thread ticker;
    std::mutex stopMutex;
    std::condition_variable stopCv;
    bool stop = false;
};

CSimReceiver::CSimReceiver(const SimOptions& options) : m_state(std::make_unique<SimState>())
{
    auto params = CParamStore::Create(options.profile, &m_state->creationError);
    m_state->core = std::make_shared<CSimCore>(options, std::move(params));
    if (!m_state->core->params) {
        qCWarning(lcSim) << m_state->creationError;
        return;
    }
    for (int i = 1; i <= options.sampleFiles; ++i) {
        SimFile f;
        f.content = SimLogContent(int64_t(i) * 150000 + 1234 * i, options.seed + uint32_t(i));
        f.time = kSampleFileTime + 3600 * i;  // fixed, so that a tool run later sees the same file
        m_state->core->files.files[QString::asprintf("LOG%04d", i)] = f;
    }
    if (!options.virtualClock) {
        SimState* state = m_state.get();
        state->ticker = std::thread([state] {
            std::unique_lock stopLock(state->stopMutex);
            while (!state->stop) {
                // Woken on each epoch's time, so that its messages leave as soon as it is due.
                state->stopCv.wait_until(stopLock, state->core->NextTick());
                if (state->stop) {
                    break;
                }
                std::lock_guard lock(state->core->mutex);
                state->core->Tick(state->core->Now());
            }
        });
    }
}

QStringList SimProfileNames()
{
    QStringList names;
    for (const ProfileDef& profile : ProfileDefs()) {
        names << QLatin1String(profile.name);
    }
    return names;
}

QString SimProfileList()
{
    QStringList names = SimProfileNames();
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

std::shared_ptr<CSimReceiver> CSimReceiver::Create(const SimOptions& options, QString* error)
{
    auto receiver = std::make_shared<CSimReceiver>(options);
    if (!receiver->CreationError().isEmpty()) {
        if (error) {
            *error = receiver->CreationError();
        }
        return nullptr;
    }
    return receiver;
}

CSimReceiver::~CSimReceiver()
{
    if (m_state->ticker.joinable()) {
        {
            std::lock_guard lock(m_state->stopMutex);
            m_state->stop = true;
        }
        m_state->stopCv.notify_all();
        m_state->ticker.join();
    }
    // Sessions still open stay valid (they share the core) but hear nothing more.
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->DropAll(QStringLiteral("The receiver was switched off"));
}

std::unique_ptr<IDeviceSession> CSimReceiver::OpenSession(Sink sink, QString* error)
{
    CSimCore& core = *m_state->core;
    std::lock_guard lock(core.mutex);
    if (!core.params) {
        if (error) {
            *error = m_state->creationError;
        }
        return nullptr;
    }
    QString port;
    for (const QString& p : CSimCore::PortPaths()) {
        if (p.startsWith(QLatin1String("/dev/ser/")) && core.IsPort(p) && !core.PortBusy(p)) {
            port = p;
            break;
        }
    }
    if (port.isEmpty() && !core.away && core.pendingReboot == CSimCore::Reboot::None) {
        if (error) {
            *error = QStringLiteral("Every serial port of the receiver is busy");
        }
        return nullptr;
    }
    auto session = core.OpenSession(port, std::move(sink), error);
    if (!session) {
        return nullptr;
    }
    return std::make_unique<CSimSessionHandle>(m_state->core, session->id);
}

std::unique_ptr<IDeviceSession> CSimReceiver::OpenSessionOn(const QString& port, Sink sink, QString* error)
{
    CSimCore& core = *m_state->core;
    std::lock_guard lock(core.mutex);
    if (!core.params) {
        if (error) {
            *error = m_state->creationError;
        }
        return nullptr;
    }
    auto session = core.OpenSession(port, std::move(sink), error);
    if (!session) {
        return nullptr;
    }
    return std::make_unique<CSimSessionHandle>(m_state->core, session->id);
}

QString CSimReceiver::FreePort(const QString& kind) const
{
    const CSimCore& core = *m_state->core;
    std::lock_guard lock(core.mutex);
    const QString prefix = QStringLiteral("/dev/") + kind + QLatin1Char('/');
    for (const QString& p : CSimCore::PortPaths()) {
        if (p.startsWith(prefix) && core.IsPort(p) && !core.PortBusy(p)) {
            return p;
        }
    }
    return QString();
}

int64_t CSimReceiver::NowMs() const
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->Now();
}

void CSimReceiver::AdvanceTime(int64_t ms)
{
    CSimCore& core = *m_state->core;
    if (!core.options.virtualClock) {
        qCWarning(lcSim) << "AdvanceTime on a real-time receiver is ignored";
        return;
    }
    // In steps, so that every epoch and every due reply comes out in order, and other threads get the lock
    // between the steps.
    while (ms > 0) {
        const int64_t step = std::min<int64_t>(ms, CSimCore::kTickMs);
        ms -= step;
        std::lock_guard lock(core.mutex);
        core.virtualNowMs += step;
        core.Tick(core.virtualNowMs);
    }
}

QString CSimReceiver::Param(const QString& path) const
{
    const CSimCore& core = *m_state->core;
    std::lock_guard lock(core.mutex);
    QString value;
    if (!core.params || !PrintValue(core, nullptr, path, &value)) {
        return QString();
    }
    return value;
}

bool CSimReceiver::SetParamValue(const QString& path, const QString& value)
{
    CSimCore& core = *m_state->core;
    std::lock_guard lock(core.mutex);
    return core.params && core.params->Force(FullPath(path), value);
}

void CSimReceiver::RefuseParam(const QString& path, bool refuse)
{
    std::lock_guard lock(m_state->core->mutex);
    Mark(m_state->core->refused, FullPath(path), refuse);
}

void CSimReceiver::HideParam(const QString& path, bool hide)
{
    std::lock_guard lock(m_state->core->mutex);
    Mark(m_state->core->hidden, FullPath(path), hide);
}

void CSimReceiver::KeepParam(const QString& path, bool keep)
{
    std::lock_guard lock(m_state->core->mutex);
    Mark(m_state->core->kept, FullPath(path), keep);
}

void CSimReceiver::WithholdReplies(bool withhold)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->withholdReplies = withhold;
}

void CSimReceiver::RefuseEvents(bool refuse)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->refuseEvents = refuse;
}

void CSimReceiver::WithholdEpochEnds(bool withhold)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->withholdEpochEnds = withhold;
}

void CSimReceiver::SetReplyDelayMs(int ms)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->replyDelayMs = std::max(0, ms);
}

void CSimReceiver::CorruptOutput(bool corrupt)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->corruptOutput = corrupt;
}

void CSimReceiver::InjectFault(SimFault fault, const QString& id, int count)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->generator->InjectFault(fault, KvsStreamId(id.trimmed()), count);
}

void CSimReceiver::InjectEvent(char input)
{
    if (input != 'A' && input != 'B') {
        return;
    }
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->generator->AddEvent(input, m_state->core->Now());
}

void CSimReceiver::InjectTimeJump(int64_t ms)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->startUtcMs += ms;
    m_state->core->generator->ShiftClock(ms);
}

void CSimReceiver::InjectOutputGap(int64_t ms)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->silentUntilMs = m_state->core->Now() + ms;
}

void CSimReceiver::DropSessions(const QString& why)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->DropAll(why);
}

QStringList CSimReceiver::ReceivedCommands() const
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->received;
}

void CSimReceiver::ClearReceivedCommands()
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->received.clear();
}

const SimOptions& CSimReceiver::Options() const
{
    return m_state->core->options;
}

QString CSimReceiver::CreationError() const
{
    return m_state->creationError;
}

QStringList CSimReceiver::EnabledMessages(const QString& port) const
{
    const CSimCore& core = *m_state->core;
    std::lock_guard lock(core.mutex);
    QStringList list;
    auto it = core.outputs.find(port);
    if (it != core.outputs.end()) {
        for (const auto& [path, out] : it->second) {
            list << path + QLatin1Char(':') + QString::number(out.periodMs);
        }
    }
    list.sort();
    return list;
}

int CSimReceiver::SessionCount() const
{
    std::lock_guard lock(m_state->core->mutex);
    return int(m_state->core->sessions.size());
}

bool CSimReceiver::IsAway() const
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->away || m_state->core->pendingReboot != CSimCore::Reboot::None;
}

bool CSimReceiver::AlmanacValid() const
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->almanacValid;
}

QStringList CSimReceiver::Events() const
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->events;
}

void CSimReceiver::AddFile(const QString& name, const QByteArray& content, int64_t time)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->files.files[name] = SimFile{content, time};
}

void CSimReceiver::AppendToFile(const QString& name, const QByteArray& bytes)
{
    std::lock_guard lock(m_state->core->mutex);
    auto& files = m_state->core->files.files;
    if (files.count(name)) {
        files[name].content += bytes;
    }
}

bool CSimReceiver::DeleteFile(const QString& name)
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->files.files.erase(name) > 0;
}

QByteArray CSimReceiver::FileContent(const QString& name) const
{
    std::lock_guard lock(m_state->core->mutex);
    const auto& files = m_state->core->files.files;
    const auto it = files.find(name);
    return it == files.end() ? QByteArray() : it->second.content;
}

QStringList CSimReceiver::FileNames() const
{
    std::lock_guard lock(m_state->core->mutex);
    QStringList names;
    for (const auto& [name, f] : m_state->core->files.files) {
        names << name;
    }
    return names;
}

QString CSimReceiver::CurrentLogFile() const
{
    std::lock_guard lock(m_state->core->mutex);
    return m_state->core->files.current;
}

void CSimReceiver::InjectTransferFault(SimTransferFault fault, int atBlock)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->files.transferFaults[fault] = atBlock;
}

void CSimReceiver::SetListingFault(SimListingFault fault, int countDelta)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->files.listingFault = fault;
    m_state->core->files.countDelta = countDelta;
}

void CSimReceiver::SetFsinitSteps(const std::vector<std::pair<int64_t, int64_t>>& steps)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->files.fsinitSteps = steps;
    m_state->core->files.fsinitNext = 0;
}

void CSimReceiver::SetRwStatistics(bool present)
{
    std::lock_guard lock(m_state->core->mutex);
    m_state->core->files.haveRwStats = present;
}
