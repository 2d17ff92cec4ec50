#include "files/FileCore.h"

#include "link/DownloadFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype kMaxFileNameBytes = 255;

// 9999-12-31 23:59:59 UTC in receiver seconds: later times are not dates.
constexpr int64_t kMaxFileTime = 253402300799LL - kReceiverEpochOffset;

bool ValidTime(int64_t time)
{
    return time >= 0 && time <= kMaxFileTime;
}

QDateTime Utc(int64_t time)
{
    return QDateTime::fromSecsSinceEpoch(time + kReceiverEpochOffset, Qt::UTC);
}

}  // namespace

QString FileDateText(int64_t time)
{
    if (!ValidTime(time)) {
        return QStringLiteral("invalid");
    }
    const QDate d = Utc(time).date();
    return QString::asprintf("%02d.%02d.%d", d.day(), d.month(), d.year());
}

QString FileTimeText(int64_t time)
{
    if (!ValidTime(time)) {
        return QString::number(time);
    }
    const QTime t = Utc(time).time();
    return QString::asprintf("%02d:%02d:%02d", t.hour(), t.minute(), t.second());
}

QString SpeedText(int64_t bytes, int64_t ms)
{
    const int64_t seconds = std::max<int64_t>(1, ms / 1000);
    return QString::asprintf("%7.2f KBps", double(bytes) / double(seconds) / 1000.0);
}

int DownloadPercent(int64_t received, int64_t total)
{
    if (total <= 0) {
        return 100;
    }
    return int(std::clamp<int64_t>(received * 100 / total, 0, 100));
}

bool FsinitFinished(int64_t total, int64_t done)
{
    return total <= 0 || done >= total;
}

int FsinitPercent(int64_t total, int64_t done)
{
    if (FsinitFinished(total, done)) {
        return 100;
    }
    const double remaining = double(total - done);
    return std::clamp(100 - int(remaining / double(total) * 100.0), 0, 100);
}

QString WithTrailingSeparator(const QString& folder)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator())) {
        return folder;
    }
    return folder + QLatin1Char('/');
}

QString TargetPath(const QString& folder, const QString& targetName, QString* why)
{
    const QString name = targetName.trimmed();
    QString problem = FileNameProblem(name);
    if (problem.isEmpty() &&
        QFile::encodeName(name).size() + qsizetype(std::strlen(CDownloadFiles::kLongestSuffix)) > kMaxFileNameBytes) {
        problem = QStringLiteral("The file name is too long");
    }
    if (!problem.isEmpty()) {
        *why = problem + QStringLiteral(": \"") + PrintableName(targetName) + QLatin1Char('"');
        return QString();
    }
    if (folder.isEmpty()) {
        *why = QStringLiteral("No download folder");
        return QString();
    }
    return WithTrailingSeparator(folder) + name;
}

QString ChooserFolder(const QString& remembered)
{
    return !remembered.isEmpty() && QFileInfo(remembered).isDir() ? remembered : DefaultDownloadFolder();
}

QString FolderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

QString DefaultDownloadFolder()
{
    for (const auto location : {QStandardPaths::DocumentsLocation, QStandardPaths::HomeLocation}) {
        const QString base = QStandardPaths::writableLocation(location);
        if (base.isEmpty()) {
            continue;
        }
        const QString folder = QDir(base).filePath(QStringLiteral("Nemola"));
        if (QDir().mkpath(folder) && QFileInfo(folder).isWritable()) {
            return WithTrailingSeparator(folder);
        }
    }
    return WithTrailingSeparator(QDir::tempPath());
}
