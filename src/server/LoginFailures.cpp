#include "server/LoginFailures.h"

#include "link/ServerWire.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <vector>

CLoginFailures::CLoginFailures(const ServerLimits& limits, QString path, Clock clock)
    : m_limits(limits), m_path(std::move(path)), m_clock(std::move(clock))
{
    if (!m_clock) {
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    }
}

int CLoginFailures::Current(const Entry& e, qint64 now) const
{
    return now - e.lastMs > m_limits.lockoutMs ? 0 : e.count;
}

int CLoginFailures::DelayMs(const QString& key) const
{
    const auto it = m_entries.constFind(key);
    const int failures = it == m_entries.cend() ? 0 : Current(*it, m_clock());
    return int(
        std::min<qint64>(m_limits.maxLoginDelayMs, qint64(m_limits.firstLoginDelayMs) << std::min(failures, 20)));
}

bool CLoginFailures::Locked(const QString& key) const
{
    const auto it = m_entries.constFind(key);
    return it != m_entries.cend() && Current(*it, m_clock()) >= m_limits.lockoutFailures;
}

void CLoginFailures::Count(const QString& key)
{
    const qint64 now = m_clock();
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        MakeRoom(now);
        it = m_entries.insert(key, Entry{});
    }
    it->count = Current(*it, now) + 1;
    it->lastMs = now;
    m_dirty |= it->count >= m_limits.lockoutFailures;
}

void CLoginFailures::Clear(const QString& key)
{
    const auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        m_dirty |= it->count >= m_limits.lockoutFailures;
        m_entries.erase(it);
    }
}

void CLoginFailures::MakeRoom(qint64 now)
{
    if (m_entries.size() < m_limits.maxFailureKeys) {
        return;
    }
    // Forgotten failures go first, then the oldest tenth of the unlocked keys; locked keys only when nothing else
    // is left, those that would be lifted soonest first. Evicting a tenth at a time keeps a flood of new keys from
    // sorting the table at every failure.
    std::vector<std::pair<qint64, QString>> unlocked;
    std::vector<std::pair<qint64, QString>> locked;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const int current = Current(*it, now);
        if (current == 0) {
            it = m_entries.erase(it);
            continue;
        }
        (current >= m_limits.lockoutFailures ? locked : unlocked).emplace_back(it->lastMs, it.key());
        ++it;
    }
    if (m_entries.size() < m_limits.maxFailureKeys) {
        return;
    }
    auto& victims = unlocked.empty() ? locked : unlocked;
    const size_t n = std::max<size_t>(1, std::min(victims.size(), size_t(m_limits.maxFailureKeys / 10)));
    std::nth_element(victims.begin(), victims.begin() + qsizetype(n - 1), victims.end());
    for (size_t i = 0; i < n; ++i) {
        m_entries.remove(victims[i].second);
    }
    m_dirty |= &victims == &locked;
}

bool CLoginFailures::Load(QString* error)
{
    m_entries.clear();
    QFile file(m_path);
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    // Lines that do not read are skipped: a lock lost is better than a server that does not start.
    const qint64 now = m_clock();
    while (!file.atEnd() && m_entries.size() < m_limits.maxFailureKeys) {
        QStringList w;
        QByteArray rest;
        if (!ServerWire::Unpack(file.readLine(1024), w, rest) || w.size() != 3) {
            continue;
        }
        bool okCount = false;
        bool okTime = false;
        // A time ahead of the clock (it was set back) starts the lock now, so that no lock outlasts its time.
        const Entry e{w[1].toInt(&okCount), std::min(w[2].toLongLong(&okTime), now)};
        if (okCount && okTime && Current(e, now) >= m_limits.lockoutFailures) {
            m_entries.insert(w[0], e);
        }
    }
    return true;
}

bool CLoginFailures::Save(QString* error)
{
    if (!m_dirty) {
        return true;
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const qint64 now = m_clock();
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (Current(*it, now) >= m_limits.lockoutFailures) {
            file.write(ServerWire::Pack({it.key(), QString::number(it->count), QString::number(it->lastMs)}));
        }
    }
    if (!file.commit()) {
        *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
        return false;
    }
    m_dirty = false;
    return true;
}
