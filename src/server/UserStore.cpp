#include "server/UserStore.h"

#include "link/ServerWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

bool CUserStore::Load(QString* error)
{
    m_users.clear();
    QFile file(m_path);
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    int lineNo = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096).trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> f = line.split(' ');
        User u;
        bool ok = false;
        u.iterations = f.size() == 5 ? f[1].toInt(&ok) : 0;
        if (ok) {
            u.salt = QByteArray::fromBase64(f[2]);
            u.storedKey = QByteArray::fromBase64(f[3]);
            u.serverKey = QByteArray::fromBase64(f[4]);
        }
        const QString name = f.isEmpty() ? QString() : QString::fromUtf8(f[0]);
        if (!ok || !ServerWire::IsValidUserName(name) || u.iterations < ServerWire::kMinIterations ||
            u.storedKey.size() != ServerWire::kKeyBytes || u.serverKey.size() != ServerWire::kKeyBytes) {
            *error = QStringLiteral("%1:%2: broken user line").arg(m_path).arg(lineNo);
            return false;
        }
        m_users.insert(name, u);
    }
    return true;
}

bool CUserStore::Add(const QString& name, const QString& password, int iterations, QString* error)
{
    if (!ServerWire::IsValidUserName(name)) {
        *error = QStringLiteral("Invalid user name \"%1\"").arg(name);
        return false;
    }
    User u;
    u.iterations = iterations;
    u.salt = ServerWire::RandomBytes(16);
    const auto keys = ServerWire::DeriveKeys(password, u.salt, iterations);
    u.storedKey = keys.storedKey;
    u.serverKey = keys.serverKey;
    m_users.insert(name, u);
    return Save(error);
}

bool CUserStore::Remove(const QString& name, QString* error)
{
    if (!m_users.remove(name)) {
        *error = QStringLiteral("No user \"%1\"").arg(name);
        return false;
    }
    return Save(error);
}

const CUserStore::User* CUserStore::Find(const QString& name) const
{
    auto it = m_users.constFind(name);
    return it == m_users.cend() ? nullptr : &it.value();
}

QList<int> CUserStore::IterationCounts() const
{
    QList<int> counts;
    for (const User& u : m_users) {
        counts.append(u.iterations);
    }
    return counts;
}

bool CUserStore::Save(QString* error) const
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (auto it = m_users.cbegin(); it != m_users.cend(); ++it) {
        const User& u = it.value();
        file.write(it.key().toUtf8() + ' ' + QByteArray::number(u.iterations) + ' ' + u.salt.toBase64() + ' ' +
                   u.storedKey.toBase64() + ' ' + u.serverKey.toBase64() + '\n');
    }
    if (!file.commit()) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    return true;
}
