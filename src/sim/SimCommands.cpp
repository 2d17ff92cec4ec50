#include "sim/SimCommands.h"

#include "link/Checksum.h"
#include "sim/SimCore.h"
#include "sim/SimFiles.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace {

// What "list" answers for a message family: names, not stream identifiers ("RT", not "~~").
QStringList ListedMessages(const QString& dir)
{
    if (dir == QLatin1String("/msg/kvs/")) {
        QStringList names;
        for (const QString& id : KnownKvsIds()) {
            names << KvsMessageName(id.toLatin1());
        }
        return names;
    }
    if (dir == QLatin1String("/msg/cmr/")) {
        return {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    }
    if (dir == QLatin1String("/msg/nmea/")) {
        return QStringLiteral("GGA,GLL,GSA,GSV,RMC,VTG,ZDA").split(QLatin1Char(','));
    }
    if (dir == QLatin1String("/msg/rtcm/")) {
        return QStringLiteral("1,3,9,16,18,19,20,21,22,31,32").split(QLatin1Char(','));
    }
    return {};
}

// Error texts of the receiver: {code,,text}.
constexpr const char* kErrSyntax = "{1,,syntax error}";
constexpr const char* kErrUnknownCommand = "{1,,unknown command}";
constexpr const char* kErrFirst = "{2,,wrong 1st parameter}";
constexpr const char* kErrSecond = "{3,,wrong 2nd parameter}";
constexpr const char* kErrRange = "{4,value out of range}";
constexpr const char* kErrReadOnly = "{5,,read-only parameter}";
constexpr const char* kErrChecksum = "{6,,checksum error}";
constexpr const char* kErrRefused = "{7,,parameter locked}";
constexpr const char* kErrEventRefused = "{9,,event not accepted}";

constexpr int kMaxTagLength = 64;

struct Result
{
    bool ok = true;
    QByteArray text;              // value on success, error text on failure
    bool answerUntagged = false;  // print and list answer even without a tag

    static Result Fail(const char* error) { return Result{false, QByteArray(error), false}; }
    static Result Value(const QString& v) { return Result{true, v.toLatin1(), true}; }
    static Result Done() { return Result{}; }
};

struct RawStatement
{
    QString text;             // trimmed, with its tag
    QString separatorBefore;  // "&&", ";" or empty for the first
};

std::vector<RawStatement> SplitLine(const QString& line)
{
    std::vector<RawStatement> out;
    QString current;
    QString before;
    bool quoted = false;
    int depth = 0;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('{')) {
            ++depth;
        } else if (!quoted && c == QLatin1Char('}') && depth > 0) {
            --depth;
        } else if (!quoted && depth == 0) {
            const bool andAnd = c == QLatin1Char('&') && i + 1 < line.size() && line[i + 1] == QLatin1Char('&');
            if (andAnd || c == QLatin1Char(';')) {
                out.push_back({current.trimmed(), before});
                before = andAnd ? QStringLiteral("&&") : QStringLiteral(";");
                current.clear();
                i += andAnd ? 1 : 0;
                continue;
            }
        }
        current += c;
    }
    out.push_back({current.trimmed(), before});
    return out;
}

QString NormalizePath(const QString& raw)
{
    QString p = raw.trimmed();
    if (!p.startsWith(QLatin1Char('/'))) {
        p = QStringLiteral("/par/") + p;
    }
    return p;
}

QString StoredValue(const CSimCore& core, const char* path)
{
    const CParamStore::Entry* e = core.params->Find(QString::fromLatin1(path));
    return e ? e->value : QString();
}

// The current raw and position update intervals follow the set ones (tests may force others, 0 too).
void FollowUpdateRate(CSimCore& core, const QString& setPath)
{
    for (const auto& [set, current] :
         {std::pair{"/par/raw/msint", "/par/raw/curmsint"}, std::pair{"/par/pos/msint", "/par/pos/curmsint"}}) {
        const CParamStore::Entry* e = core.params->Find(QString::fromLatin1(set));
        if (e && (setPath.isEmpty() || setPath == QLatin1String(set))) {
            core.params->Force(QString::fromLatin1(current), e->value);
        }
    }
}

// A recording period must be a whole multiple of the current raw and position update intervals.
bool PeriodFitsUpdateRates(const CSimCore& core, const QString& value)
{
    bool ok = false;
    const double seconds = value.trimmed().toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 86400) {
        return true;  // the range check of the table answers this
    }
    const long long ms = llround(seconds * 1000.0);
    for (const char* current : {"/par/raw/curmsint", "/par/pos/curmsint"}) {
        const long long interval = StoredValue(core, current).toLongLong();
        if (interval <= 0 || ms % interval != 0) {
            return false;
        }
    }
    return true;
}

class CStatementRunner
{
public:
    CStatementRunner(CSimCore& core, SimSession& session) : m_core(core), m_session(session) {}

    Result Run(const QString& command);

private:
    Result Print(const QStringList& args);
    Result List(const QStringList& args);
    Result Set(const QStringList& args);
    Result Init(const QStringList& args);
    Result Em(const QStringList& args);
    Result Dm(const QStringList& args);
    Result Event(const QStringList& args);
    static Result Memory(const QByteArray& error)
    {
        return error.isEmpty() ? Result::Done() : Result{false, error, false};
    }
    QString PortArgument(const QString& arg, bool* ok) const;

    CSimCore& m_core;
    SimSession& m_session;
};

// "/par/cur/term/rate" is the asking port's own "/par/dev/ser/a/rate".
QString ResolveAlias(const QString& path, const SimSession* session)
{
    static const QString kCurTerm = QStringLiteral("/par/cur/term/");
    if (session && path.startsWith(kCurTerm)) {
        return QStringLiteral("/par") + session->port + QLatin1Char('/') + path.mid(kCurTerm.size());
    }
    return path;
}

// Read-only values of the receiver's own state that move slowly with time around their stored value.
bool DriftingValue(const CSimCore& core, const QString& path, int64_t now, QString* value)
{
    const CParamStore::Entry* e = core.params->Find(path);
    if (!e) {
        return false;
    }
    const int64_t step = now / 10000;  // a new reading every 10 s
    if (path == QLatin1String("/par/dev/thermo/out")) {
        *value = QString::number(e->value.toInt() + int(step % 4));
    } else {
        *value = QString::number(e->value.toDouble() - 0.01 * double(step % 6), 'f', 2);
    }
    return true;
}

// The frequency input and output report per mode: a locked input with its amplitude, a generated output.
bool FrequencyValue(const CSimCore& core, const QString& path, QString* value)
{
    const QString mode = StoredValue(core, "/par/frq/mode");
    if (path == QLatin1String("/par/frq/in/status")) {
        *value = mode == QLatin1String("use") ? QStringLiteral("locked") : QStringLiteral("off");
    } else if (path == QLatin1String("/par/frq/in/amp")) {
        *value = mode == QLatin1String("use") ? QStringLiteral("0.85") : QStringLiteral("0.00");
    } else {
        *value = mode == QLatin1String("gen") ? QStringLiteral("10.000") : QStringLiteral("0.000");
    }
    return true;
}

bool LiveValue(const CSimCore& core, const SimSession* session, const QString& path, QString* value)
{
    if (SimFilesValue(core, path, value)) {
        return true;
    }
    const int64_t now = core.Now();
    if (path == QLatin1String("/par/dev/thermo/out") || path == QLatin1String("/par/pwr/ext") ||
        path == QLatin1String("/par/pwr/board")) {
        return DriftingValue(core, path, now, value);
    }
    if (path.startsWith(QLatin1String("/par/frq/"))) {
        return FrequencyValue(core, path, value);
    }
    if (path.startsWith(QLatin1String("/par/dev/event/")) && path.endsWith(QLatin1String("/locked"))) {
        // Locked while the input is on and the clock synchronisation with it is on.
        const QString dir = path.left(path.size() - 6);
        const auto on = [&](const char* leaf) {
            const CParamStore::Entry* e = core.params->Find(dir + QLatin1String(leaf));
            return e && e->value == QLatin1String("on");
        };
        *value = on("in") && on("lock") ? QStringLiteral("yes") : QStringLiteral("no");
        return true;
    }
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(core.UtcMs(now), Qt::UTC);
    if (path == QLatin1String("/par/rcv/uptime")) {
        *value = QString::number((now - core.bootMs) / 1000);
    } else if (path == QLatin1String("/par/time/utc/date")) {
        *value = utc.toString(QStringLiteral("yyyy-MM-dd"));
    } else if (path == QLatin1String("/par/time/utc/time")) {
        *value = utc.toString(QStringLiteral("hh:mm:ss.zzz"));
    } else if (path == QLatin1String("/cur/term")) {
        if (!session) {
            return false;
        }
        *value = session->port;
    } else {
        return false;
    }
    return true;
}

bool LeafValue(const CSimCore& core, const SimSession* session, const CParamStore::Entry& e, QString* value)
{
    if (e.def->flags & ParamFlag::Live) {
        return LiveValue(core, session, QString::fromLatin1(e.def->path), value);
    }
    *value = CParamStore::Printed(e);
    return true;
}

// A directory prints as the braced list of its children's values.
QString DirectoryValue(const CSimCore& core, const SimSession* session, const QString& dir, int depth)
{
    QStringList values;
    for (const QString& child : core.params->Children(dir)) {
        const QString path = dir + child;
        QString v;
        if (const CParamStore::Entry* e = core.params->Find(path)) {
            if (!LeafValue(core, session, *e, &v)) {
                continue;
            }
        } else if (depth < 16 && core.params->IsDirectory(path + QLatin1Char('/'))) {
            v = DirectoryValue(core, session, path + QLatin1Char('/'), depth + 1);
        }
        values << v;
    }
    return QLatin1Char('{') + values.join(QLatin1Char(',')) + QLatin1Char('}');
}

Result CStatementRunner::Run(const QString& command)
{
    const int comma = command.indexOf(QLatin1Char(','));
    const QString verb = comma < 0 ? command : command.left(comma);
    const QStringList args = comma < 0 ? QStringList() : SplitArguments(command.mid(comma + 1));
    if (verb == QLatin1String("print")) {
        return Print(args);
    }
    if (verb == QLatin1String("list")) {
        return List(args);
    }
    if (verb == QLatin1String("set")) {
        return Set(args);
    }
    if (verb == QLatin1String("init")) {
        return Init(args);
    }
    if (verb == QLatin1String("em")) {
        return Em(args);
    }
    if (verb == QLatin1String("dm")) {
        return Dm(args);
    }
    if (verb == QLatin1String("event")) {
        return Event(args);
    }
    if (verb == QLatin1String("create") || verb == QLatin1String("remove")) {
        if (args.size() != 1) {
            return Result::Fail(kErrFirst);
        }
        return Memory(verb == QLatin1String("create") ? SimCreateFile(m_core, args[0])
                                                      : SimRemoveFile(m_core, args[0]));
    }
    if (verb == QLatin1String("get")) {
        return Memory(SimStartGet(m_core, m_session, command.mid(comma + 1)));
    }
    return Result::Fail(kErrUnknownCommand);
}

Result CStatementRunner::Print(const QStringList& args)
{
    if (args.size() != 1 || args[0].trimmed().isEmpty()) {
        return Result::Fail(kErrFirst);
    }
    QString value;
    if (!PrintValue(m_core, &m_session, args[0], &value)) {
        return Result::Fail(kErrFirst);
    }
    return Result::Value(value);
}

Result CStatementRunner::List(const QStringList& args)
{
    if (args.size() != 1) {
        return Result::Fail(kErrFirst);
    }
    QString dir = ResolveAlias(NormalizePath(args[0]), &m_session);
    if (m_core.hidden.contains(dir)) {
        return Result::Fail(kErrFirst);
    }
    if (!dir.endsWith(QLatin1Char('/'))) {
        dir += QLatin1Char('/');
    }
    if (const QStringList names = ListedMessages(dir); !names.isEmpty()) {
        return Result::Value(QLatin1Char('{') + names.join(QLatin1Char(',')) + QLatin1Char('}'));
    }
    if (!m_core.params->IsDirectory(dir)) {
        return Result::Fail(kErrFirst);
    }
    QStringList children = m_core.params->Children(dir);
    // A receiver without a parameter does not list it either.
    children.removeIf([&](const QString& child) { return m_core.hidden.contains(dir + child); });
    return Result::Value(QLatin1Char('{') + children.join(QLatin1Char(',')) + QLatin1Char('}'));
}

Result CStatementRunner::Set(const QStringList& args)
{
    if (args.size() < 2) {
        return Result::Fail(args.isEmpty() ? kErrFirst : kErrSecond);
    }
    const QString path = ResolveAlias(NormalizePath(args[0]), &m_session);
    if (m_core.hidden.contains(path)) {
        return Result::Fail(kErrFirst);
    }
    QString value = args.mid(1).join(QLatin1Char(','));
    // A text with a comma outside braces and quotes is two values, not one.
    const auto enclosed = [&value](char open, char close) {
        return value.size() >= 2 && value.startsWith(QLatin1Char(open)) && value.endsWith(QLatin1Char(close));
    };
    if (args.size() > 2 && !enclosed('{', '}') && !enclosed('"', '"')) {
        return Result::Fail(kErrSecond);
    }
    // A port's flow control is also taken as a one-item list ("{on}"), as setup scripts write it.
    if (path.endsWith(QLatin1String("/rtscts")) && value.startsWith(QLatin1Char('{')) &&
        value.endsWith(QLatin1Char('}')) && !value.contains(QLatin1Char(','))) {
        value = value.mid(1, value.size() - 2);
    }
    if (m_core.refused.contains(path) && m_core.params->Find(path)) {
        return Result::Fail(kErrRefused);
    }
    if (path == QLatin1String("/par/log/sc/period") && !PeriodFitsUpdateRates(m_core, value)) {
        return Result::Fail(kErrRange);
    }
    switch (m_core.kept.contains(path) ? m_core.params->Check(path, value) : m_core.params->Set(path, value)) {
        case CParamStore::SetResult::Ok:
            break;
        case CParamStore::SetResult::Unknown:
            return Result::Fail(kErrFirst);
        case CParamStore::SetResult::ReadOnly:
            return Result::Fail(kErrReadOnly);
        case CParamStore::SetResult::Invalid:
            return Result::Fail(kErrSecond);
        case CParamStore::SetResult::OutOfRange:
            return Result::Fail(kErrRange);
    }
    FollowUpdateRate(m_core, path);
    if (path == QLatin1String("/par/reset") &&
        value.trimmed().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) {
        m_core.ScheduleReboot(CSimCore::Reboot::Reset);
    }
    return Result::Done();
}

Result CStatementRunner::Init(const QStringList& args)
{
    if (args.size() != 1) {
        return Result::Fail(kErrFirst);
    }
    const QString path = ResolveAlias(NormalizePath(args[0]), &m_session);
    if (m_core.refused.contains(path)) {
        return Result::Fail(kErrRefused);
    }
    if (path == QLatin1String("/dev/nvm/a")) {
        m_core.ScheduleReboot(CSimCore::Reboot::ClearNvram);
        return Result::Done();
    }
    if (path == QLatin1String("/dev/blk/a")) {
        return Memory(SimInitFileSystem(m_core));
    }
    if (!path.startsWith(QLatin1String("/par/"))) {
        return Result::Fail(kErrFirst);
    }
    const QString dir = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    if (m_core.params->Reset(dir)) {
        FollowUpdateRate(m_core, QString());
        return Result::Done();
    }
    if (CParamStore::Entry* e = m_core.params->Find(path)) {
        e->value = e->defaultValue;
        return Result::Done();
    }
    return Result::Fail(kErrFirst);
}

QString CStatementRunner::PortArgument(const QString& arg, bool* ok) const
{
    const QString port = arg.trimmed();
    *ok = true;
    if (port.isEmpty() || port == QLatin1String("/cur/term")) {
        return m_session.port;
    }
    if (port == QLatin1String("/cur/log") || m_core.IsPort(port)) {
        return port;
    }
    *ok = false;
    return QString();
}

Result CStatementRunner::Em(const QStringList& args)
{
    if (args.isEmpty()) {
        return Result::Fail(kErrFirst);
    }
    // "em,<spec>" names the messages only; "em,<port>,<spec>..." a port too.
    QStringList specs = args.mid(1);
    QString portArg = args[0];
    if (args.size() == 1) {
        specs = args;
        portArg.clear();
    }
    bool ok = false;
    const QString port = PortArgument(portArg, &ok);
    if (!ok || (port == QLatin1String("/cur/log") && m_core.files.current.isEmpty())) {
        return Result::Fail(kErrFirst);
    }
    if (m_core.refused.contains(port)) {
        return Result::Fail(kErrRefused);
    }
    std::vector<MsgRequest> requests;
    switch (ParseMessageSpecs(specs, true, m_core.params->HasFeature(QStringLiteral("rtk")), &requests)) {
        case MsgSpecError::None:
            break;
        case MsgSpecError::Unknown:
            return Result::Fail(kErrSecond);
        case MsgSpecError::OutOfRange:
            return Result::Fail(kErrRange);
    }
    for (const MsgRequest& r : requests) {
        if (m_core.refused.contains(r.path)) {
            return Result::Fail(kErrSecond);  // a message this firmware does not have
        }
    }
    PortOutputs& outputs = m_core.outputs[port];
    QStringList& order = m_core.outputOrder[port];
    order.erase(std::remove_if(order.begin(), order.end(), [&](const QString& p) { return !outputs.count(p); }),
                order.end());
    for (const MsgRequest& r : requests) {
        if (!order.contains(r.path)) {
            order << r.path;
        }
        // Messages go out on the receiver's epoch grid.
        MsgOutput o = r.output;
        const int64_t grid = CSimCore::kTickMs;
        o.periodMs = std::max<int64_t>(grid, (o.periodMs + grid / 2) / grid * grid);
        o.phaseMs = (o.phaseMs / grid * grid) % o.periodMs;
        // The file identifier opens a stream once; it is not repeated at its period.
        if (r.path == QLatin1String("/msg/kvs/KV")) {
            o.count = 1;
        }
        outputs[r.path] = o;
    }
    return Result::Done();
}

Result CStatementRunner::Dm(const QStringList& args)
{
    bool ok = false;
    const QString port = PortArgument(args.isEmpty() ? QString() : args[0], &ok);
    if (!ok) {
        return Result::Fail(kErrFirst);
    }
    if (m_core.refused.contains(port)) {
        return Result::Fail(kErrRefused);
    }
    if (args.size() <= 1) {
        m_core.outputs.erase(port);
        m_core.outputOrder.erase(port);
        if (port == QLatin1String("/cur/log")) {
            m_core.files.current.clear();  // the log file is closed
        }
        return Result::Done();
    }
    std::vector<MsgRequest> requests;
    if (ParseMessageSpecs(args.mid(1), false, true, &requests) != MsgSpecError::None) {
        return Result::Fail(kErrSecond);
    }
    auto it = m_core.outputs.find(port);
    if (it != m_core.outputs.end()) {
        for (const MsgRequest& r : requests) {
            it->second.erase(r.path);
        }
    }
    return Result::Done();
}

Result CStatementRunner::Event(const QStringList& args)
{
    if (args.size() != 1 || args[0].trimmed().isEmpty()) {
        return Result::Fail(kErrFirst);
    }
    QString text = args[0].trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"'))) {
        text = text.mid(1, text.size() - 2);
    }
    if (m_core.refuseEvents) {
        return Result::Fail(kErrEventRefused);
    }
    m_core.events << text;
    return Result::Done();
}

bool IsUpperHex(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// The name a message path has relative to /msg/, with the stream ids of the receiver's own messages named
// ("/msg/kvs/~~" -> "kvs/RT").
QString MessageName(const QString& path)
{
    QString name = path.mid(5);
    static const std::pair<const char*, const char*> kNamed[] = {
        {"~~", "RT"}, {"||", "EE"}, {"::", "ET"}, {"==", "EV"}};
    for (const auto& [id, text] : kNamed) {
        if (name == QLatin1String("kvs/") + QLatin1String(id)) {
            return QLatin1String("kvs/") + QLatin1String(text);
        }
    }
    return name;
}

QString Seconds(int64_t ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 2);
}

// The messages a port outputs, in the order they were enabled: {name={period,phase,count,flags},...}.
QString PortMessageList(const CSimCore& core, const QString& port)
{
    QStringList items;
    const auto outs = core.outputs.find(port);
    const auto order = core.outputOrder.find(port);
    if (outs != core.outputs.end() && order != core.outputOrder.end()) {
        for (const QString& path : order->second) {
            const auto it = outs->second.find(path);
            if (it == outs->second.end()) {
                continue;
            }
            const MsgOutput& o = it->second;
            items << MessageName(path) + QStringLiteral("={") + Seconds(o.periodMs) + QLatin1Char(',') +
                         Seconds(o.phaseMs) + QLatin1Char(',') + QString::number(o.count) + QLatin1Char(',') +
                         QString::number(o.flags) + QLatin1Char('}');
        }
    }
    return QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
}

// The clients of the receiver's TCP ports: stat={tcpd={c1={ip=...,port=...,dev=a},...}}.
QString NetworkStatus(const CSimCore& core)
{
    QStringList clients;
    for (const auto& [id, s] : core.sessions) {
        if (s->alive && s->port.startsWith(QLatin1String("/dev/tcp/"))) {
            clients << QStringLiteral("c%1={ip=%2,dev=%3}")
                           .arg(clients.size() + 1)
                           .arg(core.PeerText(*s).replace(QLatin1Char(':'), QStringLiteral(",port=")))
                           .arg(s->port.right(1));
        }
    }
    return QStringLiteral("{stat={tcpd={") + clients.join(QLatin1Char(',')) + QStringLiteral("}}}");
}

// "print,<path>:on": a port's message list ("/par/out/dev/ser/a") or the network status ("/par/net").
bool NamedValue(const CSimCore& core, const QString& path, QString* value)
{
    static const QString kOut = QStringLiteral("/par/out");
    if (path.startsWith(kOut) && core.IsPort(path.mid(kOut.size()))) {
        *value = PortMessageList(core, path.mid(kOut.size()));
        return true;
    }
    if (path == QLatin1String("/par/net") && core.params->IsDirectory(QStringLiteral("/par/net/"))) {
        *value = NetworkStatus(core);
        return true;
    }
    return false;
}

}  // namespace

QByteArray ReplyFrames(const char id[2], const QByteArray& body)
{
    QByteArray out;
    int pos = 0;
    bool first = true;
    do {
        // A continuation frame begins with one blank, so that it can't be mistaken for a tagged reply.
        QByteArray part = first ? QByteArray() : QByteArray(" ");
        const int room = CSimCore::kMaxReplyBody - int(part.size());
        part += body.mid(pos, room);
        pos += room;
        out.append(id, 2);
        out.append(QByteArray::number(part.size(), 16).toUpper().rightJustified(3, '0'));
        out.append(part);
        out.append("\r\n");
        first = false;
    } while (pos < body.size());
    return out;
}

bool PrintValue(const CSimCore& core, const SimSession* session, const QString& rawPath, QString* value)
{
    if (rawPath.trimmed().endsWith(QLatin1String(":on"))) {
        return NamedValue(core, NormalizePath(rawPath.trimmed().chopped(3)), value);
    }
    const QString path = ResolveAlias(NormalizePath(rawPath), session);
    if (core.hidden.contains(path)) {
        return false;
    }
    const int amp = path.indexOf(QLatin1Char('&'));
    if (amp >= 0 && path.mid(amp + 1) == QLatin1String("def")) {
        QString base = path.left(amp);
        const CParamStore::Entry* e = core.params->Find(base);
        if (!e && base.endsWith(QLatin1Char('/'))) {
            base.chop(1);
            e = core.params->Find(base);
        }
        if (!e || (e->def->flags & ParamFlag::Live)) {
            return false;
        }
        CParamStore::Entry d = *e;
        d.value = e->defaultValue;
        *value = CParamStore::Printed(d);
        return true;
    }
    if (path.startsWith(QLatin1String("/log/")) || path.startsWith(QLatin1String("/par/stat/"))) {
        return SimFilesValue(core, path, value);
    }
    const CParamStore::Entry* e = core.params->Find(path);
    if (!e && path.endsWith(QLatin1Char('/')) && amp < 0) {
        e = core.params->Find(path.left(path.size() - 1));
    }
    if (e) {
        return LeafValue(core, session, *e, value);
    }
    if (amp >= 0) {
        return false;
    }
    const QString dir = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    if (core.params->IsDirectory(dir)) {
        *value = DirectoryValue(core, session, dir, 0);
        return true;
    }
    return false;
}

void RunCommandLine(CSimCore& core, SimSession& session, const QByteArray& line)
{
    const QString text = QString::fromLatin1(line);
    bool skipping = false;
    for (const RawStatement& st : SplitLine(text)) {
        if (core.pendingReboot != CSimCore::Reboot::None || !session.alive) {
            return;  // the receiver is going down: the rest of the line is lost
        }
        if (skipping && st.separatorBefore == QLatin1String("&&")) {
            continue;
        }
        skipping = false;
        if (st.text.isEmpty()) {
            continue;
        }
        core.received << st.text;
        if (core.received.size() > CSimCore::kMaxReceivedRecord) {
            core.received.removeFirst();
        }

        QString body = st.text;
        QString tag;
        bool tagged = false;
        Result result;
        if (body.startsWith(QLatin1Char('%'))) {
            const int close = body.indexOf(QLatin1Char('%'), 1);
            if (close < 0 || close - 1 > kMaxTagLength) {
                result = Result::Fail(kErrSyntax);
            } else {
                tagged = true;
                tag = body.mid(1, close - 1);
                body = body.mid(close + 1).trimmed();
            }
        }
        if (result.ok) {
            // A trailing "@HH" is the statement's checksum over everything before the two digits.
            const int n = int(st.text.size());
            if (n >= 3 && st.text[n - 3] == QLatin1Char('@') && IsUpperHex(st.text[n - 2]) &&
                IsUpperHex(st.text[n - 1])) {
                const QByteArray covered = st.text.left(n - 2).toLatin1();
                const int expected = st.text.mid(n - 2).toInt(nullptr, 16);
                if (Checksum8(covered.constData(), size_t(covered.size())) != expected) {
                    result = Result::Fail(kErrChecksum);
                } else {
                    body = body.left(body.size() - 3).trimmed();
                }
            }
        }
        if (result.ok && !body.isEmpty()) {
            CStatementRunner runner(core, session);
            result = runner.Run(body);
        }

        const QByteArray prefix = tagged ? '%' + tag.toLatin1() + '%' : QByteArray();
        if (!result.ok) {
            core.SendReply(session, ReplyFrames("ER", prefix + result.text));
            skipping = true;
        } else if (tagged || result.answerUntagged) {
            core.SendReply(session, ReplyFrames("RE", prefix + result.text));
        }
    }
}
