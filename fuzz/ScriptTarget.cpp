// The script interpreter against a host that answers every command at once and sleeps on a fake clock. The input
// is up to three script files ("a.kvs", "b.kvs", "c.kvs", separated by NUL bytes); "a" runs with two arguments.
// The host asks the run to stop after a bounded number of steps. Oracles: a run that is asked to stop ends soon,
// and every run gives the terminal its controls back.
#include "FuzzSupport.h"

#include "manual/ScriptHost.h"
#include "manual/ScriptInterpreter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class CFuzzHost : public IScriptHost
{
public:
    static constexpr int kStepsBeforeStop = 4000;
    static constexpr int kStepsToStop = 4000;

    explicit CFuzzHost(QString folder) : m_folder(std::move(folder)) {}

    void PrintOutput(const QString&) override {}
    void SetStatus(const QString&) override {}
    void ClearOutput() override {}
    void SetControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
    void SetScriptButton(const QString&, bool) override {}
    void ProcessPendingInput() override
    {
        ++steps;
        if (steps > kStepsBeforeStop) {
            stop = true;
        }
        if (steps > kStepsBeforeStop + kStepsToStop) {
            FuzzFail("script", "the run did not end after the stop request");
        }
    }
    bool StopRequested() const override { return stop; }
    void ClearStopRequest() override { stop = false; }
    QString ScriptFolder() const override { return m_folder; }
    bool Send(const QString& text) override
    {
        // Commands naming "bad" fail, the others answer with what follows their first comma.
        const bool ok = !text.contains(QLatin1String("bad"));
        const QString value = text.section(QLatin1Char(','), 1).left(64);
        m_reply = ok ? QString::asprintf("RE%03X", int(value.size())) + value + QStringLiteral("\r\n")
                     : QStringLiteral("ER016{4,value out of range}\r\n");
        return ok;
    }
    QString Reply() override { return m_reply; }
    int64_t TickMs() override { return m_tick; }
    void Wait(int ms) override { m_tick += ms; }

    int steps = 0;
    bool stop = false;
    bool controlsEnabled = true;

private:
    QString m_folder;
    QString m_reply;
    int64_t m_tick = 1000;
};

}  // namespace

void FuzzScript(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    // Names that climb out of the folder reach files the fuzzer must not read (devices, /proc); the runner's own
    // refusal of such names is tested where it is built.
    input.replace("..", "__");
    const QList<QByteArray> files = input.split('\0');
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QString(QChar('a' + i)) + QStringLiteral(".kvs"));
        QFile::remove(path);
        if (i < files.size()) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(files[i]);
            }
        }
    }
    CFuzzHost host(dir.path());
    CScriptInterpreter interpreter(host);
    interpreter.RunScript(QStringLiteral("a x 12"));
    if (!host.controlsEnabled) {
        FuzzFail("script", "the run left the terminal's controls disabled");
    }
}
