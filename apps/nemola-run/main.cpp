// nemola-run: connects to a receiver and runs a script of the manual-mode terminal without a window, printing
// what the terminal would print. See RunnerOptions.h for the command line and README.md for the exit codes.

#include "RunnerOptions.h"

#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "manual/LinkFailure.h"
#include "manual/ScriptHost.h"
#include "manual/ScriptInterpreter.h"
#include "manual/SetupCheck.h"
#include "manual/TerminalOutput.h"

#ifdef NEMOLA_RUN_WITH_SIM
#include "sim/Simulator.h"
#endif

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitScriptFailed = 1;
constexpr int kExitNoReceiver = 2;  // also bad arguments
constexpr int kExitStopped = 3;
constexpr int kExitOutputFailed = 4;
constexpr int kExitDiffers = 5;  // --check: the receiver differs from the setup
constexpr int kExitKept = 6;     // --apply-differences: the receiver kept another value

// How long a signalled run may take to end on its own before the process ends without cleaning up.
constexpr auto kSignalGrace = std::chrono::milliseconds(800);
constexpr auto kCancelRepeat = std::chrono::milliseconds(50);
// How often a running script lets the main thread's posted events through.
constexpr int64_t kEventPassMs = 20;

// Set by SIGINT/SIGTERM; a run that sees it ends as the terminal's "Stop script" would end it.
std::atomic<bool> g_interrupted{false};
// The signal handler's only way to wake the watcher thread.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal)
{
    const int savedErrno = errno;
    g_interrupted = true;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "nemola-run: %s\n", text.toLocal8Bit().constData());
}

// Turns SIGINT / SIGTERM into a stop at once: the command that waits for the receiver is cancelled, and a run that
// has still not ended shortly after (a port that will not open) ends without cleaning up. A second signal ends the
// process at once.
class CSignalWatcher
{
public:
    ~CSignalWatcher() { Stop(); }

    bool Start()
    {
        // Non-blocking, so that the handler never waits on a full pipe.
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return false;
        }
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        m_thread = std::thread([this] { Run(); });
        return true;
    }
    // The receiver whose waiting command a signal cancels; null while none is open.
    void SetReceiver(std::shared_ptr<CReceiver> receiver)
    {
        std::lock_guard lock(m_mutex);
        m_receiver = std::move(receiver);
    }
    void Stop()
    {
        if (!m_thread.joinable()) {
            return;
        }
        const char quit = 0;
        [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &quit, 1);
        m_thread.join();
    }

private:
    void Run()
    {
        using Clock = std::chrono::steady_clock;
        std::optional<Clock::time_point> since;
        for (;;) {
            pollfd fd = {g_signalPipe[0], POLLIN, 0};
            const int ready = ::poll(&fd, 1, since ? int(kCancelRepeat.count()) : -1);
            if (ready > 0) {
                char bytes[16];
                const ssize_t n = ::read(g_signalPipe[0], bytes, sizeof bytes);
                for (ssize_t i = 0; i < n; ++i) {
                    if (bytes[i] == 0) {
                        return;
                    }
                    if (since) {
                        ::_exit(kExitScriptFailed);
                    }
                    since = Clock::now();
                }
            }
            if (!since) {
                continue;
            }
            // Repeated: a command may start just after a cancel.
            {
                std::lock_guard lock(m_mutex);
                if (m_receiver) {
                    m_receiver->Cancel();
                }
            }
            if (Clock::now() - *since > kSignalGrace) {
                static const char text[] = "nemola-run: Aborted by user! (the run did not end in time)\n";
                [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
                ::_exit(kExitScriptFailed);
            }
        }
    }

    std::thread m_thread;
    std::mutex m_mutex;
    std::shared_ptr<CReceiver> m_receiver;
};

// What the terminal shows of `text` (FilterPrintable(WithLineEnd(text))) with CR LF made LF, in one pass into
// `out`: the characters it shows are ASCII, so they are their own UTF-8.
void ShownBytes(const QString& text, QByteArray& out)
{
    const qsizetype n = text.size();
    out.resize(n + 1);  // keeps its capacity
    char* p = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u == '\r' && i + 1 < n && text[i + 1] == QLatin1Char('\n')) {
            continue;
        }
        *p++ = (u < 0x20 && u != '\r' && u != '\n') || u >= 0x7F ? '.' : char(u);
    }
    if (!text.endsWith(QLatin1Char('\n'))) {
        *p++ = '\n';
    }
    out.resize(p - out.constData());
}

class CConsoleHost : public IScriptHost
{
public:
    CConsoleHost(CReceiverHolder& holder, CConnection& connection, QString folder)
        : m_holder(holder), m_connection(connection), m_folder(std::move(folder))
    {
    }

    void PrintOutput(const QString& text) override
    {
        if (!m_outputError.isEmpty()) {
            return;
        }
        ShownBytes(text, m_shown);
        const QByteArray& bytes = m_shown;
        if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())) {
            // Nobody reads the run's record any more (a closed pipe, a full disk): the run stops.
            m_outputError = QString::fromLocal8Bit(std::strerror(errno));
        }
        m_unflushed = true;
    }
    // The record goes out when the run waits: for the clock, or for a reply that did not come at once (the
    // receiver's waiting callback), so that a reader sees everything up to the command that is waiting. A run of
    // quick commands writes it when the buffer is full, not once per command.
    void FlushOutput()
    {
        if (m_unflushed && m_outputError.isEmpty() && std::fflush(stdout) != 0) {
            m_outputError = QString::fromLocal8Bit(std::strerror(errno));
        }
        m_unflushed = false;
    }
    void SetStatus(const QString& text) override { m_status = text; }
    void ClearOutput() override {}
    void SetControlsEnabled(bool) override {}
    void SetScriptButton(const QString&, bool) override {}
    // No user waits on this loop: posted events need a pass now and then, not a poll at every line.
    void ProcessPendingInput() override
    {
        const int64_t now = TickMs();
        if (now - m_lastEventPassMs >= kEventPassMs) {
            m_lastEventPassMs = now;
            QCoreApplication::processEvents();
        }
    }
    // A signal is final: unlike the terminal's button it is not cleared when a called script starts.
    bool StopRequested() const override { return m_stop || g_interrupted || !m_outputError.isEmpty(); }
    void ClearStopRequest() override { m_stop = false; }
    QString ScriptFolder() const override { return m_folder; }
    bool Send(const QString& text) override { return m_holder.Send(text); }
    QString Reply() override { return m_holder.Reply(); }
    QString LinkFailure() override { return LinkFailureText(*m_holder.GetReceiver()); }
    void SetReplyTimeout(int ms) override { m_connection.SetTimeout(ReplyTimeoutUnits(ms)); }
    int64_t TickMs() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void Wait(int ms) override
    {
        FlushOutput();
        QThread::msleep(static_cast<unsigned long>(ms));
    }

    const QString& Status() const { return m_status; }
    const QString& OutputError() const { return m_outputError; }

private:
    CReceiverHolder& m_holder;
    CConnection& m_connection;
    QString m_folder;
    QString m_status;
    QString m_outputError;
    QByteArray m_shown;  // kept, so that a line of output allocates nothing
    bool m_stop = false;
    bool m_unflushed = false;
    int64_t m_lastEventPassMs = 0;
};

// Writes `text` to stdout; false when it could not be written.
bool WriteOut(const QByteArray& text)
{
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) &&
           std::fflush(stdout) == 0;
}

// --check and --apply-differences: compares the setup with the receiver, applies what differs when asked.
int CheckSetup(CReceiverHolder& holder, const RunnerOptions& options)
{
    CSetupCheck check(holder, [] { return g_interrupted.load(); });
    SetupComparison comparison = check.Compare(options.scriptPath);
    const bool apply = options.mode == RunnerOptions::Mode::ApplyDifferences;
    if (comparison.end == CheckEnd::Done && apply) {
        check.Apply(&comparison);
    }
    QByteArray out;
    if (options.json) {
        out = ComparisonJson(comparison);
    } else {
        for (const CompareRow& row : comparison.rows) {
            if (row.state == RowState::Same) {
                continue;
            }
            QString line = MismatchLine(row);
            if (row.state == RowState::Verified || row.state == RowState::Kept || row.state == RowState::Refused) {
                line += QStringLiteral(" (") + RowStateText(row) + QLatin1Char(')');
            }
            out += line.toUtf8() + '\n';
        }
    }
    if (!WriteOut(out)) {
        PrintError(QStringLiteral("can't write the output: ") + QString::fromLocal8Bit(std::strerror(errno)));
        return kExitOutputFailed;
    }
    switch (comparison.end) {
        case CheckEnd::Done:
            break;
        case CheckEnd::HeaderStopped:
            PrintError(QStringLiteral("the script ended itself at \"@stop\": ") + comparison.endText);
            return kExitStopped;
        case CheckEnd::LinkFailed:
            PrintError(comparison.endText);
            return kExitNoReceiver;
        case CheckEnd::ScriptFailed:
        case CheckEnd::Stopped:
            PrintError(comparison.endText);
            return kExitScriptFailed;
    }
    PrintError(ComparisonSummary(comparison));
    const auto any = [&](RowState state) {
        return std::any_of(comparison.rows.begin(), comparison.rows.end(),
                           [state](const CompareRow& row) { return row.state == state; });
    };
    if (any(RowState::Refused)) {
        return kExitScriptFailed;
    }
    if (any(RowState::Kept)) {
        return kExitKept;
    }
    const bool matches = std::all_of(comparison.rows.begin(), comparison.rows.end(), [](const CompareRow& row) {
        return row.state == RowState::Same || row.state == RowState::Verified;
    });
    return matches ? kExitOk : kExitDiffers;
}

int ExitCode(CScriptInterpreter::Outcome outcome)
{
    using Outcome = CScriptInterpreter::Outcome;
    switch (outcome) {
        case Outcome::Completed:
            return kExitOk;
        case Outcome::Stopped:
            PrintError(QStringLiteral("the script ended itself at \"@stop\""));
            return kExitStopped;
        case Outcome::LinkFailed:
            return kExitNoReceiver;
        default:
            return kExitScriptFailed;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that went away is reported by the failed write, not by a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nemola-run"));
    // stdout carries the script's output and stderr its result; the libraries' chatter stays out of both.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));

    RunnerOptions options;
    QString error;
    if (!ParseRunnerOptions(QCoreApplication::arguments().mid(1), &options, &error)) {
        PrintError(error);
        std::fputs(RunnerUsage().toLocal8Bit().constData(), stderr);
        return kExitNoReceiver;
    }
    if (options.help) {
        std::fputs(RunnerUsage().toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitOutputFailed;
    }
    if (options.password.isNull()) {
        options.password = qEnvironmentVariable("NEMOLA_PASSWORD");
    }

    QString receiverName = options.receiverName;
#ifdef NEMOLA_RUN_WITH_SIM
    std::shared_ptr<CSimReceiver> sim;
    const QString simKey = QStringLiteral("nemola-run");
    if (options.target == RunnerOptions::Target::Simulator) {
        SimOptions simOptions;
        simOptions.profile = options.simProfile;
        sim = CSimReceiver::Create(simOptions, &error);
        if (!sim) {
            PrintError(error);
            return kExitNoReceiver;
        }
        RegisterInProcessDevice(simKey, sim);
        receiverName = QStringLiteral("SIM:") + simKey;
        if (!options.targetGiven) {
            PrintError(QStringLiteral("no receiver given: running on the built-in simulator"));
        }
    }
#else
    if (options.target == RunnerOptions::Target::Simulator) {
        PrintError(QStringLiteral("this build has no simulator; give --tcp or --serial"));
        return kExitNoReceiver;
    }
#endif

    CSignalWatcher watcher;
    if (!watcher.Start()) {
        PrintError(QStringLiteral("can't watch for signals: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return kExitScriptFailed;
    }

    int code = kExitOk;
    {
        CConnection connection;
        CReceiverHolder holder;
        const auto giveUp = [](const OPEN_ATTEMPT&) { return g_interrupted.load(); };
        if (!connection.Open(QString(), QString(), options.password, QStringLiteral("nemola-run"), giveUp)) {
            PrintError(connection.GetMsgText());
            code = kExitNoReceiver;
        } else if (!holder.GetReceiver()->Open(&connection, receiverName)) {
            PrintError(g_interrupted ? CScriptInterpreter::AbortedText()
                                     : QStringLiteral("can't connect to %1: %2").arg(receiverName, holder.Reply()));
            code = g_interrupted ? kExitScriptFailed : kExitNoReceiver;
        } else {
            watcher.SetReceiver(holder.GetReceiver());
        }
        if (code == kExitOk && options.mode != RunnerOptions::Mode::Run) {
            code = CheckSetup(holder, options);
            watcher.SetReceiver(nullptr);
        } else if (code == kExitOk) {
            CConsoleHost host(holder, connection, options.folder);
            holder.GetReceiver()->SetWaitingCallback([&host] { host.FlushOutput(); });
            CScriptInterpreter interpreter(host);
            interpreter.RunScript(options.invocation, 0);
            holder.GetReceiver()->SetWaitingCallback(nullptr);
            host.FlushOutput();
            watcher.SetReceiver(nullptr);
            if (!host.OutputError().isEmpty()) {
                PrintError(QStringLiteral("can't write the output: ") + host.OutputError());
                code = kExitOutputFailed;
            } else {
                if (!host.Status().isEmpty()) {
                    PrintError(host.Status());
                }
                code = ExitCode(interpreter.LastOutcome());
            }
        }
        holder.CloseReceiver();
        connection.Close();
    }
    watcher.Stop();
#ifdef NEMOLA_RUN_WITH_SIM
    if (sim) {
        UnregisterInProcessDevice(simKey);
    }
#endif
    return code;
}
