#pragma once

#include "server/ServerConfig.h"

#include <QHash>
#include <QString>

#include <functional>

// Wrong proofs per key (user name and client address). Each one delays the verdict on the next try of the same
// key; from the configured count on the key is locked for a while. The table is bounded, but a flood of invented
// keys never evicts a locked one before the unlocked ones, and locks are kept in a file, so neither a flood nor a
// restart lifts them.
class CLoginFailures
{
public:
    // Milliseconds since the epoch: locks outlive the process, so a monotonic clock would not do.
    using Clock = std::function<qint64()>;

    CLoginFailures(const ServerLimits& limits, QString path, Clock clock = {});

    // Reads the locks kept in the file; a missing file is none. False with `error` set when it cannot be read.
    bool Load(QString* error);
    // Writes the locks in force (atomically, owner only) when they changed since the last save.
    bool Save(QString* error);
    bool Dirty() const { return m_dirty; }

    int DelayMs(const QString& key) const;
    bool Locked(const QString& key) const;
    void Count(const QString& key);
    void Clear(const QString& key);
    int Size() const { return int(m_entries.size()); }

private:
    struct Entry
    {
        int count = 0;
        qint64 lastMs = 0;
    };
    // The count that still holds: failures older than the lock-out time are forgotten.
    int Current(const Entry& e, qint64 now) const;
    void MakeRoom(qint64 now);

    ServerLimits m_limits;
    QString m_path;
    Clock m_clock;
    QHash<QString, Entry> m_entries;
    bool m_dirty = false;
};
