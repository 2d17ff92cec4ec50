#include "server/UnknownUsers.h"

#include "link/ServerWire.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QMessageAuthenticationCode>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>

bool CUnknownUsers::Load(QString* error)
{
    QFile file(m_path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(m_path, file.errorString());
            return false;
        }
        m_key = file.read(kKeyBytes + 1);
        if (m_key.size() != kKeyBytes) {
            // Made anew, it would change every unknown name's salt: the admin decides (by removing the file).
            *error =
                QStringLiteral("%1: not a key of %2 bytes; remove it to make a new one").arg(m_path).arg(kKeyBytes);
            return false;
        }
        return true;
    }
    m_key = ServerWire::RandomBytes(kKeyBytes);
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        out.write(m_key) != kKeyBytes || !out.commit()) {
        *error = QStringLiteral("%1: %2").arg(m_path, out.errorString());
        return false;
    }
    return true;
}

QByteArray CUnknownUsers::Salt(const QString& name) const
{
    return QMessageAuthenticationCode::hash(name.toUtf8(), m_key, QCryptographicHash::Sha256).left(kSaltBytes);
}

int CUnknownUsers::Iterations(const QString& name, const QList<int>& userCounts, int fallback) const
{
    QMap<int, int> weights;
    for (int count : userCounts) {
        ++weights[count];
    }
    // Weighted rendezvous hashing: a user added or removed moves only the names that go to or came from its
    // count, so a name's count rarely changes, and never because the configured count did.
    int best = fallback;
    double bestScore = -1;
    for (auto it = weights.cbegin(); it != weights.cend(); ++it) {
        // No line break is in a name, so name and count cannot run into another name's text.
        const QByteArray text = name.toUtf8() + '\n' + QByteArray::number(it.key());
        const QByteArray h = QMessageAuthenticationCode::hash(text, m_key, QCryptographicHash::Sha256);
        const double u = (double(qFromBigEndian<quint64>(h.constData()) >> 11) + 0.5) / double(1ull << 53);
        const double score = it.value() / -std::log(u);
        if (score > bestScore) {
            bestScore = score;
            best = it.key();
        }
    }
    return best;
}
