#include "sim/SimCore.h"

#include "sim/SimCommands.h"
#include "sim/SimForeign.h"

#include <QDateTime>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcSim, "nemola.sim", QtInfoMsg)

namespace {

// A virtual clock starts here, so that tests see the same receiver time every run.
const int64_t kFixedStartUtcMs = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();

// A real-time receiver that was not ticked for longer than this skips the epochs it missed.
constexpr int64_t kMaxCatchUpMs = 60000;

const char* const kPortPaths[] = {
    "/dev/ser/a", "/dev/ser/b", "/dev/ser/c", "/dev/ser/d", "/dev/tcp/a", "/dev/tcp/b", "/dev/tcp/c",
    "/dev/tcp/d", "/dev/tcp/e", "/dev/usb/a", "/dev/can/a", "/dev/can/b", "/dev/blt/a", "/dev/modem/a",
};

}  // namespace

CSimCore::CSimCore(const SimOptions& opts, std::unique_ptr<CParamStore> store)
    : options(opts), params(std::move(store)), rng(opts.seed)
{
    if (options.startUtcMs >= 0) {
        startUtcMs = options.startUtcMs;
    } else if (options.virtualClock) {
        startUtcMs = kFixedStartUtcMs;
    } else {
        // Epochs fall on whole seconds of the receiver's time, as a receiver's do, and go out when that time comes:
        // the receiver's time began at the last whole second, not at this moment.
        const int64_t nowUtcMs = QDateTime::currentMSecsSinceEpoch();
        startUtcMs = nowUtcMs / 1000 * 1000;
        started -= std::chrono::milliseconds(nowUtcMs - startUtcMs);
        lastEpochMs = (nowUtcMs - startUtcMs) / kTickMs * kTickMs;
    }
    if (params) {
        // Each seed gives a receiver of its own identity.
        static const char kChars[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
        std::uniform_int_distribution<int> pick(0, int(sizeof(kChars)) - 2);
        QString id;
        for (int i = 0; i < 16; ++i) {
            id += QLatin1Char(kChars[pick(rng)]);
        }
        params->SetDefault(QStringLiteral("/par/rcvid"), id);
    }
    generator = std::make_unique<CMessageGenerator>(options.latitudeDeg, options.longitudeDeg, options.heightM,
                                                    options.seed, startUtcMs);
    generator->SetExactPosition(options.exactPosition);
    generator->SetGeoidSeparation(options.geoidSeparationM);
    generator->SetRawProfile(options.raw);
    for (const CycleSlip& slip : options.slips) {
        generator->InjectCycleSlip(slip.system, slip.number, slip.atMs);
    }
}

ReceiverStatus CSimCore::Status() const
{
    ReceiverStatus s;
    s.bootMs = bootMs;
    s.trackingSinceMs = trackingSinceMs;
    s.almanacValid = almanacValid;
    s.l1Only = options.profile == QLatin1String("basic");
    if (!params) {
        return s;
    }
    auto value = [this](const char* path) {
        const CParamStore::Entry* e = params->Find(QLatin1String(path));
        return e ? e->value.trimmed() : QString();
    };
    const QString mode = value("/par/pos/mode/cur");
    if (!mode.isEmpty()) {
        s.posMode = mode;
    }
    bool ok = false;
    const int mask = value("/par/pos/elm").toInt(&ok);
    if (ok) {
        s.elevationMask = std::clamp(mask, 0, 90);
    }
    s.roverMode = value("/par/rover/mode") == QLatin1String("on");
    // "{on,on,off,on}": GPS, GLONASS, Galileo, SBAS.
    QString systems = value("/par/pos/sys");
    if (systems.startsWith(QLatin1Char('{')) && systems.endsWith(QLatin1Char('}'))) {
        const QStringList items = systems.mid(1, systems.size() - 2).split(QLatin1Char(','));
        for (int i = 0; i < int(items.size()) && i < 4; ++i) {
            s.systems[size_t(i)] = items[i].trimmed() != QLatin1String("off");
        }
    }
    return s;
}

int64_t CSimCore::Now() const
{
    if (options.virtualClock) {
        return virtualNowMs;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
}

std::chrono::steady_clock::time_point CSimCore::NextTick() const
{
    return started + std::chrono::milliseconds((Now() / kTickMs + 1) * kTickMs);
}

QString CSimCore::PeerText(const SimSession& session) const
{
    return QStringLiteral("127.0.0.1:") + QString::number(40000 + session.id);
}

QStringList CSimCore::PortPaths()
{
    QStringList ports;
    for (const char* p : kPortPaths) {
        ports << QString::fromLatin1(p);
    }
    return ports;
}

bool CSimCore::IsPort(const QString& port) const
{
    // A port exists when the receiver has its input-mode parameter.
    return params && PortPaths().contains(port) && params->Find(QStringLiteral("/par") + port + "/imode");
}

bool CSimCore::PortBusy(const QString& port) const
{
    for (const auto& [id, s] : sessions) {
        if (s->alive && s->port == port) {
            return true;
        }
    }
    return false;
}

std::shared_ptr<SimSession> CSimCore::OpenSession(const QString& port, IInProcessDevice::Sink sink, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) {
            *error = why;
        }
        return nullptr;
    };
    if (away || pendingReboot != Reboot::None) {
        return fail(QStringLiteral("The receiver does not answer (it is restarting)"));
    }
    if (!IsPort(port)) {
        return fail(QStringLiteral("The receiver has no port %1").arg(port));
    }
    if (PortBusy(port)) {
        return fail(QStringLiteral("Port %1 of the receiver is busy").arg(port));
    }
    auto s = std::make_shared<SimSession>();
    s->id = nextSessionId++;
    s->port = port;
    s->sink = std::move(sink);
    sessions[s->id] = s;
    qCDebug(lcSim) << "session" << s->id << "on" << port;
    return s;
}

void CSimCore::CloseSession(int sessionId)
{
    auto it = sessions.find(sessionId);
    if (it == sessions.end()) {
        return;
    }
    const QString port = it->second->port;
    sessions.erase(it);
    // A serial port keeps its output when nobody listens; a TCP port's output ends with its connection.
    if (port.startsWith(QLatin1String("/dev/tcp/"))) {
        outputs.erase(port);
    }
}

void CSimCore::DropAll(const QString& why)
{
    auto all = std::move(sessions);
    sessions.clear();
    for (auto& [id, s] : all) {
        if (s->port.startsWith(QLatin1String("/dev/tcp/"))) {
            outputs.erase(s->port);
        }
        if (s->alive) {
            s->alive = false;
            if (s->sink.dropped) {
                s->sink.dropped(why);
            }
        }
    }
}

void CSimCore::SendReply(SimSession& session, const QByteArray& bytes)
{
    if (withholdReplies || !session.alive) {
        return;
    }
    if (replyDelayMs > 0) {
        delayed.push_back({Now() + replyDelayMs, session.id, bytes});
        return;
    }
    if (session.sink.output) {
        session.sink.output(bytes);
    }
}

void CSimCore::SendMessages(SimSession& session, QByteArray bytes)
{
    if (session.alive && session.sink.output && !bytes.isEmpty()) {
        session.sink.output(bytes);
    }
}

void CSimCore::Input(int sessionId, const QByteArray& bytes)
{
    auto it = sessions.find(sessionId);
    if (it == sessions.end()) {
        return;
    }
    std::shared_ptr<SimSession> s = it->second;
    for (const char c : bytes) {
        if (!s->alive || away || pendingReboot != Reboot::None) {
            return;
        }
        if (s->transfer) {
            SimTransferInput(*this, *s, c);
            continue;
        }
        if (c == '\r' || c == '\n') {
            if (s->lineTooLong) {
                SendReply(*s, ReplyFrames("ER", "{9,,line too long}"));
            } else if (!s->line.isEmpty()) {
                const QByteArray line = s->line;
                s->line.clear();
                RunCommandLine(*this, *s, line);
            }
            s->line.clear();
            s->lineTooLong = false;
        } else if (s->lineTooLong || s->line.size() >= kMaxLine) {
            s->lineTooLong = true;
            s->line.clear();
        } else {
            s->line.append(c);
        }
    }
}

void CSimCore::ScheduleReboot(Reboot kind)
{
    pendingReboot = kind;
    downAtMs = Now() + kShutdownDelayMs;
}

void CSimCore::GoDown()
{
    const Reboot kind = pendingReboot;
    pendingReboot = Reboot::None;
    DropAll(kind == Reboot::ClearNvram ? QStringLiteral("The receiver restarts after clearing its NVRAM")
                                       : QStringLiteral("The receiver restarts"));
    outputs.clear();
    delayed.clear();
    away = true;
    awayUntilMs = downAtMs + std::max(0, options.rebootMs);
    if (kind == Reboot::ClearNvram) {
        almanacValid = false;
    }
    qCInfo(lcSim) << "receiver down until" << awayUntilMs << "ms";
}

void CSimCore::ComeBack()
{
    away = false;
    bootMs = awayUntilMs;
    trackingSinceMs = awayUntilMs;
    generator->Reboot(bootMs);
    qCInfo(lcSim) << "receiver back at" << awayUntilMs << "ms";
}

void CSimCore::Tick(int64_t nowMs)
{
    if (pendingReboot != Reboot::None && nowMs >= downAtMs) {
        GoDown();
    }
    if (away && nowMs >= awayUntilMs) {
        ComeBack();
    }
    while (!delayed.empty() && delayed.front().dueMs <= nowMs) {
        const DelayedOutput d = delayed.front();
        delayed.pop_front();
        auto it = sessions.find(d.sessionId);
        if (it != sessions.end() && it->second->alive && it->second->sink.output) {
            it->second->sink.output(d.bytes);
        }
    }
    SimTransferTick(*this, nowMs);
    if (nowMs - lastEpochMs > kMaxCatchUpMs) {
        lastEpochMs = nowMs - nowMs % kTickMs - kMaxCatchUpMs;
    }
    for (int64_t t = (lastEpochMs / kTickMs + 1) * kTickMs; t <= nowMs; t += kTickMs) {
        if (!away) {
            if (t % 1000 == 0) {
                generator->Step(t);
            }
            EmitEpoch(t);
        }
        lastEpochMs = t;
    }
}

int64_t CSimCore::OutputPeriod(int64_t periodMs) const
{
    if (options.epochRateHz <= 1 || periodMs <= 0) {
        return periodMs;
    }
    return std::max<int64_t>(kTickMs, (periodMs / options.epochRateHz + kTickMs / 2) / kTickMs * kTickMs);
}

void CSimCore::EmitEpoch(int64_t t)
{
    const int64_t receiverMs = generator->ReceiverMs(t);
    bool haveStatus = false;
    ReceiverStatus status;
    for (auto& [port, outs] : outputs) {
        std::vector<std::pair<int, std::pair<QByteArray, int64_t>>> due;
        std::vector<QString> foreign;  // NMEA sentences and RTCM 3 frames, after the receiver's own epoch
        bool endDue = false;
        for (auto it = outs.begin(); it != outs.end();) {
            MsgOutput& o = it->second;
            const int64_t period = OutputPeriod(o.periodMs);
            // Runs every tick for every enabled message: only the period check until something is due. Due on the
            // tick that holds a point of the {period,phase} grid of the receiver's time, wherever the run started.
            const int64_t sinceGrid = period > 0 ? ((receiverMs - o.phaseMs) % period + period) % period : 0;
            if (period <= 0 || sinceGrid >= kTickMs) {
                ++it;
                continue;
            }
            if (it->first.startsWith(QLatin1String("/msg/nmea/")) ||
                it->first.startsWith(QLatin1String("/msg/rtcm3/"))) {
                foreign.push_back(it->first);
            } else if (it->first.startsWith(QLatin1String("/msg/kvs/"))) {
                const QByteArray id = it->first.mid(9).toLatin1();
                if (id == "||") {
                    endDue = true;
                } else {
                    due.push_back({EpochRank(id), {id, period}});
                }
            }
            if (o.count > 0 && --o.count == 0) {
                it = outs.erase(it);
                continue;
            }
            ++it;
        }
        if (t < silentUntilMs || (due.empty() && !endDue && foreign.empty())) {
            continue;
        }
        SimSession* target = nullptr;
        for (auto& [id, s] : sessions) {
            if (s->alive && s->port == port && !s->transfer) {
                target = s.get();
            }
        }
        const bool toLog = port == QLatin1String("/cur/log") && files.files.count(files.current) > 0;
        if (!target && !toLog) {
            continue;
        }
        if (!haveStatus) {
            status = Status();
            haveStatus = true;
        }
        std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        QByteArray bytes;
        auto add = [&](QByteArray frames) {
            if (corruptOutput && frames.size() > 5) {
                frames[5] = static_cast<char>(frames[5] ^ 0x01);  // first body byte, the checksum for "||"
            }
            bytes += frames;
        };
        for (const auto& [rank, item] : due) {
            if (item.first == "KV" || item.first == "MF") {
                bytes += SimLogHeaderFrame(item.first);
                continue;
            }
            add(generator->Frames(item.first, t, item.second, status));
        }
        // The epoch end closes every epoch that said anything, whatever its own period.
        if (!withholdEpochEnds && (endDue || (!bytes.isEmpty() && outs.count(QStringLiteral("/msg/kvs/||")) > 0))) {
            add(generator->Frames("||", t, 0, status));
        }
        bytes += ForeignOutput(foreign, t, status);
        if (toLog) {
            files.files[files.current].content += bytes;
        } else {
            SendMessages(*target, bytes);
        }
    }
}

QByteArray CSimCore::ForeignOutput(const std::vector<QString>& paths, int64_t t, const ReceiverStatus& status)
{
    if (paths.empty()) {
        return QByteArray();
    }
    const EpochData& e = generator->Epoch(t, status);
    const int64_t utc = UtcMs(t);
    const CParamStore::Entry* stid = params ? params->Find(QStringLiteral("/par/rtcm/base/stid")) : nullptr;
    const int station = stid ? stid->value.toInt() : 0;
    const bool glonassToo = std::find(paths.begin(), paths.end(), QStringLiteral("/msg/rtcm3/1012")) != paths.end();
    QByteArray out;
    for (const QString& path : paths) {
        if (path.startsWith(QLatin1String("/msg/nmea/"))) {
            out += NmeaSentences(path.mid(10).toLatin1(), e, utc);
        } else {
            const int number = path.mid(11).toInt();
            out += Rtcm3Frame(number, e, generator->Sky().SiteEcef(), station, utc, number == 1004 && glonassToo);
        }
    }
    return out;
}
