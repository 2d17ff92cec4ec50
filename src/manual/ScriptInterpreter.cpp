#include "manual/ScriptInterpreter.h"

#include "manual/ScriptHost.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcManual, "nemola.manual")

namespace {

QString LoadCaption()
{
    return QStringLiteral("Load script");
}

QString StopCaption()
{
    return QStringLiteral("Stop script");
}

bool StartsWithEcho(const QString& line)
{
    return line.startsWith(QLatin1String("@echo"), Qt::CaseInsensitive);
}

}  // namespace

struct CScriptInterpreter::Level
{
    QString path;
    QString text;
    qsizetype readPos = 0;
    ScriptSlots vars;
    bool echo = true;
    bool stopOnErrors = true;
    QString result;
    bool endAll = false;
};

QString CScriptInterpreter::LineTooLongText()
{
    return QStringLiteral("Line too long (more than %1 characters)").arg(kMaxScriptLine);
}

QString CScriptInterpreter::EndlessExpansionText()
{
    return QStringLiteral("Variables expand without end");
}

CScriptInterpreter::CScriptInterpreter(IScriptHost& host) : m_host(host) {}

void CScriptInterpreter::Fail(Outcome outcome)
{
    // The first failure is the one that ended the run; the levels above only pass it on.
    if (m_outcome == Outcome::Completed || m_outcome == Outcome::Aborted) {
        m_outcome = outcome;
    }
}

bool CScriptInterpreter::RunScript(const QString& invocation, int depth)
{
    if (depth == 0) {
        m_outcome = Outcome::Completed;
        m_heldChars = 0;
    }
    if (depth > kMaxDepth) {
        m_endStatus = TooDeepText();
        m_host.SetStatus(m_endStatus);
        Fail(Outcome::TooDeep);
        return true;
    }

    Level level;
    const QStringList tokens = SplitInvocation(invocation);
    for (int i = 0; i < tokens.size(); ++i) {
        level.vars[size_t(i)] = tokens[i];
    }
    QString name = level.vars[0];
    if (!name.contains(QLatin1Char('.'))) {
        name += QLatin1String(".kvs");
    }
    const QString folder = m_host.ScriptFolder();
    level.path = folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
    if (!Load(level, depth)) {
        Fail(Outcome::OpenFailed);
        return true;
    }
    m_heldChars += level.text.size();
    struct Release
    {
        qsizetype& held;
        qsizetype size;
        ~Release() { held -= size; }
    } release{m_heldChars, level.text.size()};

    if (depth == 0) {
        m_host.SetControlsEnabled(false);
    }
    m_host.SetScriptButton(StopCaption(), true);
    m_host.SetStatus(QStringLiteral("Executing ") + level.path + QStringLiteral("..."));
    m_host.ClearStopRequest();
    if (depth == 0) {
        qCDebug(lcManual) << "running" << level.path;
    }

    for (;;) {
        const qsizetype lf = level.text.indexOf(QLatin1Char('\n'), level.readPos);
        if (lf < 0) {
            break;
        }
        QString line = level.text.mid(level.readPos, lf - level.readPos);
        level.readPos = lf + 1;

        m_host.ProcessPendingInput();
        if (m_host.StopRequested()) {
            level.result = AbortedText();
            Fail(Outcome::Aborted);
            break;
        }
        line = line.trimmed();
        if (line.isEmpty()) {
            continue;
        }
        if (line.size() > kMaxScriptLine) {
            Refuse(level, LineTooLongText());
            break;
        }
        m_host.SetStatus(line);
        const SubstituteResult substituted = SubstituteVariables(line, level.vars);
        if (substituted != SubstituteResult::Ok) {
            Refuse(level, substituted == SubstituteResult::TooLong ? LineTooLongText() : EndlessExpansionText());
            break;
        }
        if (level.echo && !StartsWithEcho(line)) {
            m_host.PrintOutput(QLatin1Char('>') + line);
        }
        if (line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1String("@:"))) {
            continue;
        }
        const Step step =
            line.startsWith(QLatin1Char('@')) ? RunDirective(level, line, depth) : RunCommand(level, line);
        if (step == Step::Leave) {
            break;
        }
    }

    // A stop that came during the last line (a wait, a called script, a cancelled command) is still a stop.
    if (!level.endAll && level.result.isEmpty() && m_host.StopRequested()) {
        level.result = AbortedText();
        Fail(Outcome::Aborted);
    }
    if (depth == 0) {
        m_host.SetControlsEnabled(true);
        m_host.SetScriptButton(LoadCaption(), true);
    }
    m_endStatus = level.result;
    m_host.SetStatus(level.result);
    return level.endAll;
}

bool CScriptInterpreter::Load(Level& level, int depth)
{
    QString path = level.path;
    bool inside = true;
    if (depth > 0) {
        // A called name is the script's choice, not the user's: it must not reach files outside the script folder,
        // through ".." or a symbolic link.
        const QString file = QFileInfo(level.path).canonicalFilePath();
        const QString folder = QDir(m_host.ScriptFolder()).canonicalPath();
        inside = !file.isEmpty() && !folder.isEmpty() &&
                 file.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
        path = file;
    }
    QByteArray bytes;
    const ScriptFileRead read = inside ? ReadScriptFile(path, &bytes) : ScriptFileRead::CantOpen;
    QString text;
    if (read == ScriptFileRead::Ok) {
        text = UnifyLineEnds(DecodeScriptFile(bytes));
    }
    QString why;
    if (read == ScriptFileRead::TooLarge) {
        why = QStringLiteral(" (more than %1 MiB)").arg(kMaxScriptFileBytes >> 20);
    } else if (m_heldChars + text.size() > kMaxHeldChars) {
        why = QStringLiteral(" (the calling scripts hold too much text)");
    }
    if (read != ScriptFileRead::Ok || !why.isEmpty()) {
        m_endStatus = QStringLiteral("Unable to open ") + level.path + why;
        m_host.SetStatus(m_endStatus);
        return false;
    }
    level.text = text;
    return true;
}

CScriptInterpreter::Step CScriptInterpreter::Refuse(Level& level, const QString& why)
{
    // A setup that skipped a line would leave the receiver half configured: stop like an error reply does.
    level.result = why;
    m_host.PrintOutput(QStringLiteral(">Stop script line : ") + why);
    level.endAll = true;
    Fail(Outcome::LineRefused);
    return Step::Leave;
}

CScriptInterpreter::Step CScriptInterpreter::RunCommand(Level& level, const QString& line)
{
    const bool ok = m_host.Send(line);
    const QString reply = m_host.Reply();
    m_host.PrintOutput(reply);
    if (!ok && m_host.StopRequested()) {
        // The stop cancelled the waiting command.
        level.result = AbortedText();
        Fail(Outcome::Aborted);
        return Step::Leave;
    }
    const QString linkFailure = ok ? QString() : m_host.LinkFailure();
    if (!linkFailure.isEmpty()) {
        // Without the link every later line would fail the same way, so stop-on-errors does not matter here.
        level.result = linkFailure;
        m_host.PrintOutput(QStringLiteral(">Stop receiver link : ") + linkFailure);
        level.endAll = true;
        Fail(Outcome::LinkFailed);
        return Step::Leave;
    }
    if (!ok && level.stopOnErrors) {
        level.result = ErrorReplyText();
        m_host.PrintOutput(QStringLiteral(">Stop receiver reply : ") + level.result);
        level.endAll = true;
        Fail(Outcome::ErrorReply);
        return Step::Leave;
    }
    level.vars[0] = ok ? ReplyValue(reply) : QString();
    return Step::Next;
}

CScriptInterpreter::Step CScriptInterpreter::RunDirective(Level& level, const QString& line, int depth)
{
    const QStringList tokens = SplitTokens(line.mid(1));
    if (tokens.isEmpty()) {
        return Step::Next;
    }
    const QString word = tokens[0].toLower();
    const qsizetype count = tokens.size();

    if (word == QLatin1String("echo")) {
        const QString arg = count == 2 ? tokens[1].toLower() : QString();
        if (arg == QLatin1String("on") || arg == QLatin1String("off")) {
            level.echo = arg == QLatin1String("on");
        } else {
            // A tab after the word separates like the usual blank, and prints as one.
            QString text = line.mid(5);
            if (text.startsWith(QLatin1Char('\t'))) {
                text[0] = QLatin1Char(' ');
            }
            m_host.PrintOutput(QLatin1Char('>') + text);
        }
    } else if (word == QLatin1String("clear")) {
        m_host.ClearOutput();
    } else if (word == QLatin1String("goto")) {
        if (count >= 2) {
            // The label is the rest of the line, so that a reply value with blanks (a model name) can name one.
            Goto(level, line.mid(1).trimmed().mid(tokens[0].size()).trimmed());
        }
    } else if (word == QLatin1String("call")) {
        if (RunScript(line.mid(5).trimmed(), depth + 1)) {
            // The failure that ended the called script stays on the status line instead of an empty text.
            level.result = m_endStatus;
            level.endAll = true;
            return Step::Leave;
        }
    } else if (word == QLatin1String("sleep")) {
        Sleep(level, tokens);
    } else if (word == QLatin1String("timeout")) {
        int value = 0;
        if (count == 2 && ReadDecimal(tokens[1], &value) && value > 0) {
            m_host.SetReplyTimeout(std::min(value, kMaxReplyTimeoutMs));
        }
    } else if (word == QLatin1String("default")) {
        if (count == 3) {
            const int index = VariableIndex(tokens[1]);
            if (index > 0 && level.vars[size_t(index)].isEmpty()) {
                level.vars[size_t(index)] = tokens[2];
            }
        }
    } else if (word == QLatin1String("stoponerrors")) {
        if (count == 2) {
            level.stopOnErrors = tokens[1].compare(QLatin1String("on"), Qt::CaseInsensitive) == 0;
        }
    } else if (word == QLatin1String("set")) {
        if (count == 3) {
            QString value = tokens[2];
            const SubstituteResult substituted = SubstituteVariables(value, level.vars);
            if (substituted != SubstituteResult::Ok) {
                return Refuse(level,
                              substituted == SubstituteResult::TooLong ? LineTooLongText() : EndlessExpansionText());
            }
            if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) {
                value = value.mid(1, value.size() - 2);
            }
            const int index = VariableIndex(tokens[1]);
            if (index > 0) {
                level.vars[size_t(index)] = value;
            }
        }
    } else if (word == QLatin1String("stop")) {
        if (depth == 0 && m_outcome == Outcome::Completed) {
            m_outcome = Outcome::Stopped;
        }
        return Step::Leave;
    } else if (word == QLatin1String("exit") || word == QLatin1String("disconnect")) {
        level.endAll = true;
        return Step::Leave;
    }
    return Step::Next;
}

void CScriptInterpreter::Goto(Level& level, const QString& label)
{
    const QString target = QStringLiteral("@:") + label.toLower();
    const QString& text = level.text;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(QLatin1String("@:"), from);
        if (at < 0) {
            return;  // unknown label: the run goes on after the "@goto"
        }
        const qsizetype lf = text.indexOf(QLatin1Char('\n'), at);  // the text always ends with LF
        from = at + 2;
        if (lf < 0) {
            return;
        }
        // Longer candidates can't match and would only cost time to expand.
        if (lf - at > kMaxScriptLine + 2) {
            continue;
        }
        QString candidate = text.mid(at, lf - at).trimmed().toLower();
        if (SubstituteVariables(candidate, level.vars) != SubstituteResult::Ok) {
            continue;
        }
        // Compared without regard to case also after substitution, so that a reference to a value in capitals
        // finds its label too.
        if (candidate.size() == target.size() && candidate.compare(target, Qt::CaseInsensitive) == 0) {
            level.readPos = lf + 1;
            return;
        }
    }
}

void CScriptInterpreter::Sleep(Level& level, const QStringList& tokens)
{
    int ms = kDefaultSleepMs;
    if (tokens.size() == 2) {
        int value = 0;
        if (ReadDecimal(tokens[1], &value)) {
            ms = value;
        }
    }
    const int64_t start = m_host.TickMs();
    for (;;) {
        const int64_t elapsed = m_host.TickMs() - start;
        if (elapsed >= ms) {
            break;
        }
        m_host.Wait(kSleepStepMs);
        m_host.SetStatus(QString::asprintf("Sleeping: %d ms left", int(ms - elapsed)));
        m_host.ProcessPendingInput();
        if (m_host.StopRequested()) {
            break;
        }
    }
    m_host.SetStatus(QStringLiteral("Executing ") + level.path + QStringLiteral("..."));
}
