#include "logging/LogHealth.h"

#include <QStorageInfo>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

QString Duration(double seconds)
{
    if (seconds >= 2 * 86400) {
        return QStringLiteral("%1 d").arg(seconds / 86400, 0, 'f', 1);
    }
    if (seconds >= 3600) {
        return QStringLiteral("%1 h").arg(seconds / 3600, 0, 'f', 1);
    }
    return QStringLiteral("%1 min").arg(seconds / 60, 0, 'f', 1);
}

QString Size(int64_t bytes)
{
    if (bytes >= (int64_t(1) << 30)) {
        return QStringLiteral("%1 GB").arg(double(bytes) / double(int64_t(1) << 30), 0, 'f', 1);
    }
    return QStringLiteral("%1 MB").arg(double(bytes) / double(1 << 20), 0, 'f', 1);
}

}  // namespace

QString LogHealthLine(const LogCounts& now, const LogCounts& before, double seconds, uint64_t badChecksums,
                      int64_t freeBytes)
{
    const double rate = seconds > 0 ? double(now.bytes - before.bytes) / seconds : 0.0;
    QString line = QStringLiteral("%1 B/s, %2 messages, %3 bytes").arg(qint64(rate)).arg(now.messages).arg(now.bytes);
    // The busiest identifiers first; a dozen say enough on one line.
    std::vector<std::pair<int64_t, uint16_t>> types;
    for (const auto& [id, n] : now.byType) {
        types.push_back({n, id});
    }
    std::sort(types.begin(), types.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList parts;
    for (size_t i = 0; i < types.size() && i < 12; ++i) {
        const char id[2] = {char(types[i].second >> 8), char(types[i].second & 0xFF)};
        parts << QString::fromLatin1(id, 2) + QLatin1Char(' ') + QString::number(types[i].first);
    }
    if (!parts.isEmpty()) {
        line += QStringLiteral(" (") + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    line += QStringLiteral(", checksum errors %1").arg(badChecksums);
    if (freeBytes >= 0) {
        line += QStringLiteral(", free ") + Size(freeBytes);
        if (rate > 0) {
            line += QStringLiteral(", full in ") + Duration(double(freeBytes) / rate);
        }
    }
    return line;
}

int64_t FreeBytesAt(const QString& folder)
{
    const QStorageInfo info(folder);
    return info.isValid() ? info.bytesAvailable() : -1;
}
