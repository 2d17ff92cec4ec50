// nemola-run: connects to a receiver and runs a script of the manual-mode terminal without a window, printing
// what the terminal would print. See RunnerOptions.h for the command line and README.md for the exit codes.

#include "RunnerOptions.h"

#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "manual/ScriptHost.h"
#include "manual/ScriptInterpreter.h"
#include "manual/TerminalOutput.h"

#ifdef NEMOLA_RUN_WITH_SIM
#include "sim/Simulator.h"
#endif

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitScriptFailed = 1;
constexpr int kExitUsage = 2;

// Set by SIGINT/SIGTERM; handed to the interpreter only between its steps, as the terminal's button would be.
std::atomic<bool> g_interrupted{false};

void OnSignal(int)
{
    g_interrupted = true;
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "nemola-run: %s\n", text.toLocal8Bit().constData());
}

class CConsoleHost : public IScriptHost
{
public:
    CConsoleHost(CReceiverHolder& holder, QString folder) : m_holder(holder), m_folder(std::move(folder)) {}

    void PrintOutput(const QString& text) override
    {
        QString shown = FilterPrintable(WithLineEnd(text));
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        const QByteArray bytes = shown.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }
    void SetStatus(const QString& text) override { m_status = text; }
    void ClearOutput() override {}
    void SetControlsEnabled(bool) override {}
    void SetScriptButton(const QString&, bool) override {}
    void ProcessPendingInput() override
    {
        QCoreApplication::processEvents();
        if (g_interrupted.exchange(false)) {
            m_stop = true;
        }
    }
    bool StopRequested() const override { return m_stop; }
    void ClearStopRequest() override { m_stop = false; }
    QString ScriptFolder() const override { return m_folder; }
    bool Send(const QString& text) override { return m_holder.Send(text); }
    QString Reply() override { return m_holder.Reply(); }
    int64_t TickMs() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void Wait(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }

    const QString& Status() const { return m_status; }

private:
    CReceiverHolder& m_holder;
    QString m_folder;
    QString m_status;
    bool m_stop = false;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nemola-run"));
    // stdout carries the script's output and stderr its result; the libraries' chatter stays out of both.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));

    RunnerOptions options;
    QString error;
    if (!ParseRunnerOptions(QCoreApplication::arguments().mid(1), &options, &error)) {
        PrintError(error);
        std::fputs(RunnerUsage().toLocal8Bit().constData(), stderr);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(RunnerUsage().toLocal8Bit().constData(), stdout);
        return kExitOk;
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
            return kExitUsage;
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
        return kExitUsage;
    }
#endif

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    int code = kExitOk;
    {
        CConnection connection;
        CReceiverHolder holder;
        if (!connection.Open(QString(), QString(), QString(), QStringLiteral("nemola-run"))) {
            PrintError(connection.GetMsgText());
            code = kExitUsage;
        } else if (!holder.GetReceiver()->Open(&connection, receiverName)) {
            PrintError(QStringLiteral("can't connect to %1: %2").arg(receiverName, holder.Reply()));
            code = kExitUsage;
        } else {
            CConsoleHost host(holder, options.folder);
            CScriptInterpreter interpreter(host);
            interpreter.RunScript(options.invocation, 0);
            if (!host.Status().isEmpty()) {
                PrintError(host.Status());
            }
            code = interpreter.LastOutcome() == CScriptInterpreter::Outcome::Completed ? kExitOk : kExitScriptFailed;
        }
        holder.CloseReceiver();
        connection.Close();
    }
#ifdef NEMOLA_RUN_WITH_SIM
    if (sim) {
        UnregisterInProcessDevice(simKey);
    }
#endif
    return code;
}
