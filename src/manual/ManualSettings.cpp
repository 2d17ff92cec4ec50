#include "manual/ManualSettings.h"

#include "link/Profile.h"

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("ManualMode");

QString CommandKey(int i)
{
    return QString::asprintf("Command%d", i);
}

}  // namespace

void CCommandHistory::Add(const QString& text)
{
    PutOnTop(text);
    // A limit below one would leave nothing to select; it is kept at one.
    while (m_entries.size() > std::max(m_limit, 1)) {
        m_entries.removeLast();
    }
}

void CCommandHistory::PutOnTop(const QString& text)
{
    m_entries.removeAll(text);
    m_entries.prepend(text);
}

ManualSettings ManualSettings::Read(const CProfile& profile, const QString& defaultFolder)
{
    ManualSettings s;
    // Only upper limits are given; values below one would turn the history and the window into no-ops or endless
    // trimming, so one is the floor.
    s.commands = std::clamp(profile.ReadInt(kSection, QStringLiteral("Commands"), kMaxCommands), 1, kMaxCommands);
    s.replies = std::clamp(profile.ReadInt(kSection, QStringLiteral("Replies"), kMaxReplies), 1, kMaxReplies);
    s.pathScript = profile.ReadString(kSection, QStringLiteral("PathScript"), defaultFolder);
    s.pathLog = profile.ReadString(kSection, QStringLiteral("PathLog"), defaultFolder);
    for (int i = 0; i < s.commands; ++i) {
        const QString entry = profile.ReadString(kSection, CommandKey(i), QString()).trimmed();
        if (!entry.isEmpty()) {
            s.history << entry;
        }
    }
    return s;
}

void ManualSettings::Write(CProfile& profile) const
{
    for (int i = 0; i < history.size(); ++i) {
        profile.WriteString(kSection, CommandKey(i), history[i]);
    }
    profile.WriteInt(kSection, QStringLiteral("Commands"), commands);
    profile.WriteInt(kSection, QStringLiteral("Replies"), replies);
    profile.WriteString(kSection, QStringLiteral("PathScript"), pathScript);
    profile.WriteString(kSection, QStringLiteral("PathLog"), pathLog);
}
