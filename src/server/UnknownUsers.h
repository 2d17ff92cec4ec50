#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What a login under a name that is no user is offered: a salt and an iteration count that look like a user's
// and stay the same across restarts and changes of the configured count, so that comparing answers never tells
// which names exist. Both come from a key kept in a file of the store.
class CUnknownUsers
{
public:
    static constexpr int kKeyBytes = 32;
    static constexpr int kSaltBytes = 16;

    explicit CUnknownUsers(QString keyPath) : m_path(std::move(keyPath)) {}
    // Reads the key, or makes one (owner only) when there is none. False with `error` set when the file is broken
    // or cannot be written.
    bool Load(QString* error);
    QByteArray Salt(const QString& name) const;
    // One of the counts the users have, picked by the name with the odds of a user's count (each count in
    // proportion to its users); `fallback` while there are no users.
    int Iterations(const QString& name, const QList<int>& userCounts, int fallback) const;

private:
    QString m_path;
    QByteArray m_key;
};
