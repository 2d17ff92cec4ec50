#include "manual/SetupDryRun.h"

#include "link/CommandText.h"
#include "link/ReceiverHolder.h"
#include "manual/LinkFailure.h"
#include "manual/ScriptHost.h"
#include "manual/ScriptText.h"

#include <QFileInfo>
#include <QHash>

namespace {

constexpr int kKeptEchoes = 3;

// The receiver commands of a script file (not comments, labels or directives), trimmed, in file order.
QStringList CommandLinesOf(const QString& path)
{
    QByteArray bytes;
    if (ReadScriptFile(path, &bytes) != ScriptFileRead::Ok) {
        return {};
    }
    QStringList commands;
    for (const QString& raw : UnifyLineEnds(DecodeScriptFile(bytes)).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')) && !line.startsWith(QLatin1Char('@'))) {
            commands << line;
        }
    }
    return commands;
}

// Reads go to the receiver; everything else is written down and answered as a receiver answers a success.
class CDryRunHost : public IScriptHost
{
public:
    CDryRunHost(CReceiverHolder& holder, QString folder, const QStringList& fileCommands,
                const std::function<bool()>& stop, int maxSteps)
        : m_holder(holder), m_folder(std::move(folder)), m_stop(stop), m_maxSteps(maxSteps)
    {
        for (const QString& line : fileCommands) {
            m_fileCommands.insert(line, 0);
        }
    }

    void PrintOutput(const QString& text) override
    {
        // "@echo" output begins with "> "; echoed lines begin with ">" and the line itself.
        if (text.startsWith(QLatin1String("> "))) {
            result.echoes << text.mid(2);
            if (result.echoes.size() > kKeptEchoes) {
                result.echoes.removeFirst();
            }
        }
    }
    void SetStatus(const QString& text) override
    {
        m_status = text;
        // The interpreter shows each line as written before it runs it.
        if (const auto it = m_fileCommands.find(text); it != m_fileCommands.end()) {
            ++*it;
        }
    }
    void ClearOutput() override {}
    void SetControlsEnabled(bool) override {}
    void SetScriptButton(const QString&, bool) override {}
    void ProcessPendingInput() override
    {
        if (++m_steps > m_maxSteps) {
            result.tooManySteps = true;
        }
    }
    // Sticky: a called script clears the request, but neither the user's stop nor a loop's end may be undone.
    bool StopRequested() const override { return result.tooManySteps || (m_stop && m_stop()); }
    void ClearStopRequest() override {}
    QString ScriptFolder() const override { return m_folder; }

    bool Send(const QString& text) override
    {
        if (IsReadingCommand(text)) {
            const bool ok = m_holder.Send(text);
            m_reply = m_holder.Reply();
            if (!ok) {
                result.linkFailure = LinkFailureText(*m_holder.GetReceiver());
            }
            return ok;
        }
        if (result.statements.size() >= size_t(kMaxDryRunCommands)) {
            result.tooManySteps = true;
            m_reply.clear();
            return false;
        }
        const std::vector<Statement> chain = SplitChain(text);
        result.statements.push_back({text, chain.size() == 1 ? chain.front().text.trimmed() : text});
        // A tagged statement is answered with its tag; an untagged one that changes something with nothing.
        const QString body = !chain.empty() && chain.front().tagged
                                 ? QLatin1Char('%') + chain.front().tag + QLatin1Char('%')
                                 : QString();
        m_reply = QString::asprintf("RE%03X", int(body.size())) + body + QStringLiteral("\r\n");
        return true;
    }
    QString Reply() override { return m_reply; }
    QString LinkFailure() override { return result.linkFailure; }
    int64_t TickMs() override { return m_tick; }
    void Wait(int ms) override { m_tick += ms; }

    // The file's commands that ran fewer times than they appear, from the file's start.
    QStringList Skipped(const QStringList& fileCommands)
    {
        QStringList skipped;
        for (const QString& line : fileCommands) {
            int& ran = m_fileCommands[line];
            if (ran > 0) {
                --ran;
            } else {
                skipped << line;
            }
        }
        return skipped;
    }

    QString Status() const { return m_status; }

    SetupDryRun result;

private:
    CReceiverHolder& m_holder;
    QString m_folder;
    std::function<bool()> m_stop;
    QHash<QString, int> m_fileCommands;
    QString m_reply;
    QString m_status;
    int64_t m_tick = 0;
    int m_steps = 0;
    int m_maxSteps;
};

}  // namespace

bool IsReadingCommand(const QString& line)
{
    const std::vector<Statement> chain = SplitChain(line);
    if (chain.size() != 1) {
        return false;
    }
    const QString verb = chain.front().text.trimmed().section(QLatin1Char(','), 0, 0).trimmed().toLower();
    return verb == QLatin1String("print") || verb == QLatin1String("list");
}

SetupDryRun DryRunSetup(CReceiverHolder& holder, const QString& scriptPath, const std::function<bool()>& stop,
                        int maxSteps)
{
    const QFileInfo info(scriptPath);
    // The interpreter's rule: a name without an extension is a receiver log's name.
    const QString path = info.fileName().contains(QLatin1Char('.')) ? scriptPath : scriptPath + QStringLiteral(".kvs");
    const QStringList fileCommands = CommandLinesOf(path);
    CDryRunHost host(holder, info.absolutePath(), fileCommands, stop, maxSteps);
    CScriptInterpreter interpreter(host);
    // Quoted, so that a name with blanks stays one name.
    interpreter.RunScript(QLatin1Char('"') + info.fileName() + QLatin1Char('"'));
    SetupDryRun result = std::move(host.result);
    result.outcome = interpreter.LastOutcome();
    result.status = host.Status();
    result.skipped = host.Skipped(fileCommands);
    return result;
}
