#pragma once

#include <QString>
#include <QStringList>

class CProfile;

// The command history of the terminal: newest entry on top, no entry twice.
class CCommandHistory
{
public:
    static constexpr int kMaxEntries = 20;

    explicit CCommandHistory(int limit = kMaxEntries) : m_limit(limit) {}

    void SetLimit(int limit) { m_limit = limit; }
    int Limit() const { return m_limit; }

    // A command that was sent: moved or inserted to the top, then the oldest entries above the limit go.
    void Add(const QString& text);
    // A command offered to the user (a loaded script): moved or inserted to the top, the limit is not applied.
    void PutOnTop(const QString& text);
    // Appends a stored entry below the others.
    void Append(const QString& text) { m_entries << text; }

    const QStringList& Entries() const { return m_entries; }

private:
    int m_limit;
    QStringList m_entries;
};

// The terminal's settings in profile section "ManualMode".
struct ManualSettings
{
    static constexpr int kMaxCommands = CCommandHistory::kMaxEntries;
    static constexpr int kMaxReplies = 550;

    int commands = kMaxCommands;  // history limit, 1 ... 20
    int replies = kMaxReplies;    // output line limit, 1 ... 550
    QString pathScript;
    QString pathLog;      // where "Start log" last saved
    QStringList history;  // top first, trimmed, without empty entries

    // Reads the settings and applies the limits; `defaultFolder` is the script and log folder until one is chosen.
    static ManualSettings Read(const CProfile& profile, const QString& defaultFolder);
    // Writes the history as "Command0" ..., then the limits and the script and log folders. Keys of a longer history
    // stored before are left as they are.
    void Write(CProfile& profile) const;
};
