// nemola-rec: records a receiver's message stream into files, unattended, on the engine of the program's
// real-time logging. Exit status: 0 stopped by a signal or at the end of --duration, 1 a write error, 2 bad
// arguments or no connection, 3 the link was lost.
#include "link/CommandText.h"
#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverOptions.h"
#include "logging/LogEngine.h"
#include "logging/LogHealth.h"
#include "logging/LogSelection.h"
#ifdef NEMOLA_REC_WITH_SIM
#include "sim/Simulator.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitWriteError = 1;
constexpr int kExitNoReceiver = 2;  // also bad arguments
constexpr int kExitLinkLost = 3;

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

struct Options
{
    ReceiverOptions receiver;
    QString folder;
    QStringList messages;  // KVS message names; empty: the receiver's default set
    QString interval = QStringLiteral("1.00");
    int every = 1;
    int unitSeconds = 3600;
    bool timeNames = false;
    bool listenOnly = false;
    double duration = 0;  // seconds; 0 until a signal
};

const char kUsage[] =
    "Usage: nemola-rec [--simulator | --tcp HOST:PORT | --serial DEV[,BAUD]] [--password TEXT] --folder DIR\n"
    "                  [--messages LIST] [--interval S] [--split 15m|1h|1d] [--names count|time]\n"
    "                  [--listen-only] [--duration S]\n"
    "Records the receiver's messages (LIST, e.g. PG,SI,RC; default: the receiver's default set) into DIR,\n"
    "a new file at every split boundary of the receiver's time. --listen-only sends nothing at all and records\n"
    "what the port already outputs, from the first message that arrives. Stops on SIGINT/SIGTERM.\n"
    "Exit: 0 stopped, 1 write error, 2 bad arguments or no connection, 3 link lost.\n";

void Print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

void Error(const QString& text)
{
    Print(stderr, QStringLiteral("nemola-rec: ") + text);
}

bool ParseSplit(const QString& text, Options* o)
{
    if (text.size() < 2) {
        return false;
    }
    bool ok = false;
    const int n = text.left(text.size() - 1).toInt(&ok);
    const QChar unit = text.back();
    o->unitSeconds = unit == QLatin1Char('m')   ? 60
                     : unit == QLatin1Char('h') ? 3600
                     : unit == QLatin1Char('d') ? 86400
                                                : 0;
    o->every = n;
    return ok && n >= 1 && o->unitSeconds > 0;
}

bool ParseOptions(const QStringList& args, Options* o, QString* error)
{
    for (int i = 0; i < args.size(); ++i) {
        const OptionStep step = ParseReceiverOption(args, i, &o->receiver, error);
        if (step == OptionStep::Failed) {
            return false;
        }
        if (step == OptionStep::Taken) {
            continue;
        }
        const QString& a = args[i];
        QString v;
        if (a == QLatin1String("--folder")) {
            if (!TakeOptionValue(args, i, &o->folder, error)) {
                return false;
            }
        } else if (a == QLatin1String("--messages")) {
            if (!TakeOptionValue(args, i, &v, error)) {
                return false;
            }
            o->messages = v.split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (const QString& m : o->messages) {
                if (m.size() != 2 || !m[0].isLetterOrNumber() || !m[1].isLetterOrNumber()) {
                    *error = QStringLiteral("--messages: \"%1\" is not a message name").arg(m);
                    return false;
                }
            }
            if (o->messages.size() > kMaxSelectedMessages) {
                *error = QStringLiteral("--messages: more than %1 messages do not fit the receiver's output table")
                             .arg(kMaxSelectedMessages);
                return false;
            }
        } else if (a == QLatin1String("--interval")) {
            bool ok = false;
            if (!TakeOptionValue(args, i, &v, error)) {
                return false;
            }
            const double s = v.toDouble(&ok);
            if (!ok || s < 0.05 || s > 86400) {
                *error = QStringLiteral("--interval needs seconds from 0.05 to 86400");
                return false;
            }
            o->interval = QString::number(s, 'f', 2);
        } else if (a == QLatin1String("--split")) {
            if (!TakeOptionValue(args, i, &v, error) || !ParseSplit(v, o)) {
                *error = QStringLiteral("--split needs a count and m, h or d (15m, 1h, 1d)");
                return false;
            }
        } else if (a == QLatin1String("--names")) {
            if (!TakeOptionValue(args, i, &v, error) || (v != QLatin1String("count") && v != QLatin1String("time"))) {
                *error = QStringLiteral("--names needs count or time");
                return false;
            }
            o->timeNames = v == QLatin1String("time");
        } else if (a == QLatin1String("--duration")) {
            bool ok = false;
            if (!TakeOptionValue(args, i, &v, error)) {
                return false;
            }
            o->duration = v.toDouble(&ok);
            if (!ok || o->duration <= 0) {
                *error = QStringLiteral("--duration needs seconds");
                return false;
            }
        } else if (a == QLatin1String("--listen-only")) {
            o->listenOnly = true;
        } else {
            *error = QStringLiteral("unknown argument ") + a;
            return false;
        }
    }
    if (o->folder.isEmpty()) {
        *error = QStringLiteral("--folder is needed");
        return false;
    }
    if (o->listenOnly && !o->messages.isEmpty()) {
        *error = QStringLiteral("--listen-only sends no command: leave --messages out");
        return false;
    }
    return true;
}

// The statements of a list-mode recording: time and date, the header frames, the messages and the epoch end, all
// at the interval; split as the logging dialog splits them, since one line for a long list is more than a
// receiver takes.
QStringList SelectionStatements(const Options& o)
{
    QStringList ids{QStringLiteral("RD"), QStringLiteral("RT"), QStringLiteral("KV"), QStringLiteral("MF")};
    for (const QString& m : o.messages) {
        if (!ids.contains(m) && m != QLatin1String("EE")) {
            ids << m;
        }
    }
    ids << QStringLiteral("EE");
    return EmStatements(LogType::Kvs, ids, o.interval);
}

// "N messages, B bytes in F files" as they are on the medium, with the loss after a write error.
QString Summary(const LogCounts& c)
{
    QString text = QStringLiteral("%1 messages, %2 bytes in %3 files").arg(c.messages).arg(c.bytes).arg(c.files);
    if (c.lostMessages > 0 || c.lostBytes > 0) {
        text += QStringLiteral("; lost %1 messages, %2 bytes").arg(c.lostMessages).arg(c.lostBytes);
    }
    return text;
}

// The selected names the receiver does not list among its messages, so that a refusal names them; none when the
// receiver does not say what it has.
QStringList UnknownMessages(CReceiver& receiver, const QStringList& names)
{
    if (!receiver.SendCommand(QStringLiteral("list,/msg/kvs"))) {
        return {};
    }
    const QString reply = receiver.GetReplyString().trimmed();
    const QStringList known = ParseMessageList(reply.mid(5), LogType::Kvs);
    QStringList unknown;
    for (const QString& n : names) {
        if (!known.isEmpty() && !known.contains(n)) {
            unknown << n;
        }
    }
    return unknown;
}

LogOptions RecordingOptions(const Options& o)
{
    LogOptions lo;
    lo.folder = QDir(o.folder).absolutePath() + QLatin1Char('/');
    lo.prefix = QStringLiteral("Site");
    lo.timeNames = o.timeNames;
    lo.every = o.every;
    lo.unitSeconds = o.unitSeconds;
    // A port that already outputs does so at an interval nobody chose here: the engine measures it.
    lo.interval = o.listenOnly ? 0.0 : o.interval.toDouble();
    // Without a header of the receiver's own (default set or listening), each file opens at an epoch with the
    // engine's, so that no date and time message is held back.
    lo.ownHeader = o.messages.isEmpty();
    return lo;
}

// Opens the receiver and starts its messages into the engine; kExitOk once the recording runs.
int StartRecording(CConnection& connection, CReceiver& receiver, const QString& receiverName, const Options& o,
                   const LogOptions& lo, CLogEngine& engine)
{
    // The whole stream, whatever it holds, is framed by the engine (a port that already outputs may be met in the
    // middle of a message).
    auto raw = [&engine](const char* data, int size) { engine.FeedStream(data, size); };
    QString error;
    if (o.listenOnly) {
        // Nothing is sent: the recording starts with what arrives, from the first byte.
        if (!engine.Start(lo, &error)) {
            Error(error);
            return kExitWriteError;
        }
        receiver.SendCommand(QString(), raw);
        if (!OpenToolReceiver(connection, receiver, receiverName, o.receiver, QStringLiteral("nemola-rec"), &error,
                              CReceiver::kOpenListenOnly)) {
            engine.Discard();
            Error(error);
            return kExitNoReceiver;
        }
        return kExitOk;
    }
    if (!OpenToolReceiver(connection, receiver, receiverName, o.receiver, QStringLiteral("nemola-rec"), &error)) {
        Error(error);
        return kExitNoReceiver;
    }
    const QStringList unknown = UnknownMessages(receiver, o.messages);
    if (!unknown.isEmpty()) {
        Error(QStringLiteral("the receiver has no message %1").arg(unknown.join(QLatin1Char(','))));
        return kExitNoReceiver;
    }
    if (!engine.Start(lo, &error)) {
        Error(error);
        return kExitWriteError;
    }
    const QStringList statements = o.messages.isEmpty()
                                       ? QStringList{QStringLiteral("em,,def:{%1}&&em,,kvs/EE:{%1}").arg(o.interval)}
                                       : SelectionStatements(o);
    for (const QString& statement : statements) {
        if (!receiver.SendCommand(statement, raw)) {
            // A recording that did not start leaves no file behind, and the refusal says what was refused.
            const QString reply = receiver.GetReplyString().trimmed();
            if (receiver.IsOpen()) {
                receiver.SendCommand(QStringLiteral("dm"), nullptr);
            }
            engine.Discard();
            Error(QStringLiteral("can't start the messages (%1): %2").arg(statement, reply));
            return kExitNoReceiver;
        }
    }
    return kExitOk;
}

// Records until a signal, the chosen duration, a write error or a lost link, with a health line on a terminal.
int WaitWhileRecording(CReceiver& receiver, CLogEngine& engine, const Options& o, const QString& folder,
                       const std::atomic<bool>& failed)
{
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    auto lastLine = start;
    LogCounts before = engine.Counts();
    int code = kExitOk;
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (failed || engine.GetState() == CLogEngine::State::Failed) {
            code = kExitWriteError;
            break;
        }
        if (!receiver.IsOpen()) {
            Error(QStringLiteral("the link to the receiver was lost; the files written so far are closed"));
            code = kExitLinkLost;
            break;
        }
        if (terminal && now - lastLine >= std::chrono::seconds(1)) {
            const LogCounts c = engine.Counts();
            const double s = std::chrono::duration<double>(now - lastLine).count();
            std::fprintf(stderr, "\r%s\033[K",
                         LogHealthLine(c, before, s, engine.StreamStats().badChecksums, FreeBytesAt(folder))
                             .toLocal8Bit()
                             .constData());
            std::fflush(stderr);
            before = c;
            lastLine = now;
        }
        if (o.duration > 0 && std::chrono::duration<double>(now - start).count() >= o.duration) {
            break;
        }
    }
    if (terminal) {
        std::fputc('\n', stderr);
    }
    return code;
}

int Record(CConnection& connection, CReceiver& receiver, const QString& receiverName, const Options& o)
{
    CLogEngine engine;
    const LogOptions lo = RecordingOptions(o);
    std::atomic<bool> failed{false};
    engine.SetStoppedCallback([&failed](const QString&) { failed = true; });
    engine.SetFileDoneCallback([](const QString& path) { Print(stdout, QStringLiteral("closed ") + path); });
    if (!QDir().mkpath(lo.folder)) {
        Error(QStringLiteral("can't create the folder ") + lo.folder);
        return kExitWriteError;
    }
    if (const int started = StartRecording(connection, receiver, receiverName, o, lo, engine); started != kExitOk) {
        return started;
    }
    int code = WaitWhileRecording(receiver, engine, o, lo.folder, failed);
    // No more messages first, so that the last one in the file is whole.
    if (receiver.IsOpen()) {
        receiver.SendCommand(o.listenOnly ? QString() : QStringLiteral("dm"), nullptr);
    }
    // The last flush may fail too (a medium that fills at the end): that is a write error like any other.
    engine.Stop();
    const LogCounts c = engine.Counts();
    if (engine.GetState() == CLogEngine::State::Failed) {
        Error(QStringLiteral("write error: %1; lost %2 messages, %3 bytes since the last good write")
                  .arg(engine.LastError())
                  .arg(c.lostMessages)
                  .arg(c.lostBytes));
        code = kExitWriteError;
    }
    Print(stdout, Summary(c));
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--help")) || app.arguments().contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    QString error;
    if (!ParseOptions(app.arguments().mid(1), &options, &error)) {
        Error(error);
        std::fputs(kUsage, stderr);
        return kExitNoReceiver;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // A file-size limit is a write error like a full disk, reported with what was lost, not a crash.
    std::signal(SIGXFSZ, SIG_IGN);
    QString receiverName = options.receiver.receiverName;
#ifdef NEMOLA_REC_WITH_SIM
    std::shared_ptr<CSimReceiver> sim;
    if (options.receiver.simulator) {
        SimOptions simOptions;
        simOptions.profile = options.receiver.simProfile;
        sim = std::make_shared<CSimReceiver>(simOptions);
        RegisterInProcessDevice(QStringLiteral("nemola-rec"), sim);
        receiverName = QStringLiteral("SIM:nemola-rec");
    }
#else
    if (options.receiver.simulator) {
        Error(QStringLiteral("this build has no simulator; give --tcp or --serial"));
        return kExitNoReceiver;
    }
#endif
    int code = kExitOk;
    {
        CConnection connection;
        CReceiver receiver;
        code = Record(connection, receiver, receiverName, options);
        receiver.Close();
        connection.Close();
    }
#ifdef NEMOLA_REC_WITH_SIM
    if (sim) {
        UnregisterInProcessDevice(QStringLiteral("nemola-rec"));
    }
#endif
    return code;
}
