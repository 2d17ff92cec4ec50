#pragma once

#include "manual/ScriptText.h"

#include <QString>

class IScriptHost;

// Runs scripts of receiver commands and directives (labels, jumps, nested calls, waits, echo control,
// stop-on-error) through a host. One interpreter may run any number of scripts one after the other.
class CScriptInterpreter
{
public:
    static constexpr int kMaxDepth = 200;
    static constexpr int kDefaultSleepMs = 1000;
    static constexpr int kSleepStepMs = 10;
    static constexpr int kMaxReplyTimeoutMs = 600000;
    // The text all active levels may hold together, in characters: a script calling itself would otherwise hold
    // kMaxDepth copies of itself.
    static constexpr qsizetype kMaxHeldChars = qsizetype(8) << 20;

    // Why the last top-level run ended, for callers that report it (the headless runner's exit code).
    enum class Outcome {
        Completed,    // end of the file, "@exit" or "@disconnect"
        Stopped,      // "@stop" in the top-level script (a setup that found the wrong receiver or port)
        Aborted,      // the stop request
        ErrorReply,   // a command failed while stop-on-errors was on
        LinkFailed,   // no reply in time or the link lost, whatever stop-on-errors says
        OpenFailed,   // a script file could not be opened
        TooDeep,      // nesting above kMaxDepth
        LineRefused,  // a line too long, or variables that expand without end
    };

    explicit CScriptInterpreter(IScriptHost& host);

    // Runs the script named by the first token of `invocation`, with the further tokens as @1 ... @9.
    // Returns true when the callers must end as well.
    bool RunScript(const QString& invocation, int depth = 0);

    Outcome LastOutcome() const { return m_outcome; }

    // Status texts.
    static QString TooDeepText() { return QStringLiteral("Too deep call level (200)!"); }
    static QString AbortedText() { return QStringLiteral("Aborted by user!"); }
    static QString ErrorReplyText() { return QStringLiteral("An error reply from the receiver"); }
    static QString LineTooLongText();
    static QString EndlessExpansionText();

private:
    struct Level;

    enum class Step { Next, Leave };

    Step RunCommand(Level& level, const QString& line);
    Step RunDirective(Level& level, const QString& line, int depth);
    // Reads the level's script; false with the status set when it can't be run.
    bool Load(Level& level, int depth);
    void Goto(Level& level, const QString& label);
    void Sleep(Level& level, const QStringList& tokens);
    // Ends the level on a line it refuses to run.
    Step Refuse(Level& level, const QString& why);
    void Fail(Outcome outcome);

    IScriptHost& m_host;
    Outcome m_outcome = Outcome::Completed;
    QString m_endStatus;  // what the level that returned last left on the status line
    qsizetype m_heldChars = 0;
};
