#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The server's users: per user a salt, an iteration count and the SCRAM StoredKey and ServerKey, one line each:
//   <name> <iterations> <salt base64> <stored key base64> <server key base64>
// The file is replaced atomically on every change.
class CUserStore
{
public:
    struct User
    {
        int iterations = 0;
        QByteArray salt;
        QByteArray storedKey;
        QByteArray serverKey;
    };

    explicit CUserStore(QString path) : m_path(std::move(path)) {}
    // A missing file is an empty store; a broken line fails the load.
    bool Load(QString* error);
    bool Add(const QString& name, const QString& password, int iterations, QString* error);
    bool Remove(const QString& name, QString* error);
    const User* Find(const QString& name) const;
    QStringList Names() const { return m_users.keys(); }
    // Every user's count, one per user.
    QList<int> IterationCounts() const;

private:
    bool Save(QString* error) const;

    QString m_path;
    QMap<QString, User> m_users;
};
