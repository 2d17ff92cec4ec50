#pragma once

#include "manual/ScriptInterpreter.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class CReceiverHolder;

// A statement a setup script would send to change the receiver.
struct SetupStatement
{
    QString line;     // as the script sends it, tag included: "%/par/pos/elm%set,/par/pos/elm,5"
    QString command;  // without the tag: "set,/par/pos/elm,5"
};

// What a setup script would do on a receiver, found without changing it.
struct SetupDryRun
{
    CScriptInterpreter::Outcome outcome = CScriptInterpreter::Outcome::Completed;
    QString status;                          // the run's last status line: why it ended (empty at the end of the file)
    QStringList echoes;                      // the script's last "@echo" lines, which say why a header stopped itself
    QString linkFailure;                     // the link's own message when a read failed (no reply in time, link lost)
    std::vector<SetupStatement> statements;  // in the order the script sends them
    QStringList skipped;        // receiver commands of the script file that the run did not reach, in file order
    bool tooManySteps = false;  // a loop that did not end: stopped after the most lines or commands allowed
};

// Lines a dry run goes through before it gives up on a loop, and the commands it writes down at the most (a setup
// of the sheet has a few hundred).
constexpr int kMaxDryRunSteps = 100000;
constexpr int kMaxDryRunCommands = 20000;

// Runs the script at `scriptPath` through the interpreter with a host that sends only the reads ("print" and
// "list" statements on lines of their own) to the receiver, so that the script's model and port branches choose
// as on a real run, and records every other command with a made-up success reply instead of sending it. Waits
// end at once; "@call" is followed within the script's folder. `stop` (may be empty) is asked at every line; a
// run of more than `maxSteps` lines is taken for a loop without end.
SetupDryRun DryRunSetup(CReceiverHolder& holder, const QString& scriptPath, const std::function<bool()>& stop = {},
                        int maxSteps = kMaxDryRunSteps);

// Whether a command line only reads: one "print" or "list" statement.
bool IsReadingCommand(const QString& line);
