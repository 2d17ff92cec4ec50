#pragma once

#include "manual/SetupDryRun.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class CReceiverHolder;

// A parameter, or the message output of a port, that a setup sets, with the script's own lines that set it.
struct SetupItem
{
    QString path;       // "/par/pos/elm"; a port's messages: "/par/out/dev/ser/a"
    QString value;      // as the setup sets it; a port's messages joined by commas ("none" for none)
    QStringList lines;  // the script's lines, tags included, in the script's order
    bool isPort = false;
    QStringList messages;  // a port's: "kvs/PG:{1.00}", ...
    bool exact = false;    // a port's: the script disables all its messages first
    int order = 0;         // the index of the item's last statement
};

// What a setup script sets, from its dry run.
struct SetupPlan
{
    std::vector<SetupItem> items;  // in the order of each item's last statement
    QStringList resetTrees;        // parameter trees the script resets to their defaults first ("/par/")
    QStringList uncompared;        // the script's other commands (actions, chains): shown, never sent
};

SetupPlan PlanSetup(const std::vector<SetupStatement>& statements);

enum class RowState {
    Same,
    Differs,
    Missing,     // the receiver has no such parameter ({2,,wrong 1st parameter})
    Unreadable,  // any other error, or no reply
    Verified,    // applied and read back as the setup has it
    Kept,        // applied, acknowledged, and read back with another value
    Refused,     // applied and answered with an error
};

struct CompareRow
{
    SetupItem item;
    RowState state = RowState::Unreadable;
    QString receiver;       // the value read (a port's messages joined by commas); null when none was read
    QString error;          // Unreadable, Refused: the receiver's error or the link's message
    bool selected = false;  // to be applied: the differing rows, at first
};

// How a comparison or an apply ended.
enum class CheckEnd {
    Done,
    HeaderStopped,  // the script stopped itself (another model, an unknown port)
    ScriptFailed,   // the script could not be run to its end (unreadable file, an error reply, a loop)
    LinkFailed,     // no reply in time, or the link lost
    Stopped,        // the user's stop
};

struct SetupComparison
{
    QString scriptPath;
    CheckEnd end = CheckEnd::Done;
    QString endText;  // what the end was, for everything but Done
    SetupDryRun dryRun;
    SetupPlan plan;
    std::vector<CompareRow> rows;
    int resetOnly = -1;  // parameters the script resets and does not set; -1: no reset, or not countable
};

// Progress of a long step: `done` of `total` (total 0: no count known). Called on the working thread.
using CheckProgress = std::function<void(const QString& step, int done, int total)>;

// Compares a setup with the receiver and applies what differs. UI-free, and run on any one thread at a time;
// `stop` (asked between commands) may come from any thread, which then also cancels the waiting command
// through the holder.
class CSetupCheck
{
public:
    static constexpr int kBatchLines = 32;
    // Listing the receiver's parameter tree to count what a reset covers stops at this many entries.
    static constexpr int kMaxListed = 4096;
    static constexpr int kMaxListDepth = 12;

    explicit CSetupCheck(CReceiverHolder& holder, std::function<bool()> stop = {}, CheckProgress progress = {});

    int maxDryRunSteps = kMaxDryRunSteps;
    // The caller stopped the message output of the port it talks through (a tool of the program does): that
    // port's messages are not ticked for applying, and their row says why they differ.
    bool ownPortStopped = false;

    // Dry-runs the script, reads the receiver's value of everything it sets and counts what it only resets.
    SetupComparison Compare(const QString& scriptPath);
    // Sends the selected rows' own lines in their order, then reads them back: Verified, Kept or Refused. Rows
    // not reached keep their state. Sets `comparison->end` and its text.
    void Apply(SetupComparison* comparison);

private:
    struct Read;
    bool ReadRows(const std::vector<CompareRow*>& rows, const QString& step, SetupComparison* out);
    bool ReadBatch(const std::vector<CompareRow*>& rows, std::vector<Read>* reads, SetupComparison* out);
    int CountResetOnly(const SetupComparison& comparison);
    bool Stopped() const { return m_stop && m_stop(); }
    // Ends `out` after a failed command: a stop or the link's failure.
    void EndAfterFailure(SetupComparison* out);
    void Progress(const QString& step, int done, int total) const;

    CReceiverHolder& m_holder;
    std::function<bool()> m_stop;
    CheckProgress m_progress;
};

// The row's state as the table and the report show it: "same", "the receiver kept 0.33", ...
QString RowStateText(const CompareRow& row);
// One word for the JSON output: same, differs, missing, unreadable, verified, kept, refused.
QString RowStateWord(RowState state);
// "path: setup <v>, receiver <v>" for a row that does not match.
QString MismatchLine(const CompareRow& row);
// The counts of the rows by state and what was not compared, in a sentence or two.
QString ComparisonSummary(const SetupComparison& comparison);
// The whole comparison as text: the summary, the table, the skipped lines and the uncompared commands.
QString ComparisonReport(const SetupComparison& comparison, const QString& receiverName);
// The rows as a JSON array of {path, setup, receiver, state[, error]}.
QByteArray ComparisonJson(const SetupComparison& comparison);
