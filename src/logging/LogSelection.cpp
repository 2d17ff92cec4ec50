#include "logging/LogSelection.h"

#include <QDir>
#include <QFile>

namespace {

const char* SectionName(LogType type)
{
    switch (type) {
        case LogType::Kvs:
            return "kvs";
        case LogType::Cmr:
            return "cmr";
        case LogType::Nmea:
            return "nmea";
        case LogType::Rtcm:
            return "rtcm";
    }
    return "";
}

}  // namespace

QStringList ParseMessageList(const QString& value, LogType type)
{
    const QString v = value.trimmed();
    const int open = int(v.indexOf(QLatin1Char('{')));
    const int close = int(v.indexOf(QLatin1Char('}')));
    if (open < 0 || close < open) {
        return {};
    }
    QStringList ids;
    for (QString id : v.mid(open + 1, close - open - 1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        id = id.trimmed().left(kMaxIdLength);
        if (type == LogType::Rtcm && id.startsWith(QLatin1Char('0'))) {
            id.clear();
        }
        ids << id;
    }
    return ids;
}

void ApplySavedSelection(std::vector<LogMessageEntry>& entries, const QString& saved)
{
    const bool all = saved == QLatin1String("ALL");
    for (LogMessageEntry& e : entries) {
        e.use = !e.id.isEmpty() && (all || saved.contains(QLatin1Char(',') + e.id + QLatin1Char(',')));
    }
}

QString SavedSelection(const std::vector<LogMessageEntry>& entries)
{
    QString out = QStringLiteral(",");
    for (const LogMessageEntry& e : entries) {
        if (e.use && !e.id.isEmpty()) {
            out += e.id + QLatin1Char(',');
        }
    }
    return out;
}

QString CatalogueDescription(const QByteArray& catalogue, LogType type, const QString& id)
{
    if (id.isEmpty()) {
        return QString();
    }
    const QList<QByteArray> lines = catalogue.split('\n');
    const QByteArray section = SectionName(type);
    const QByteArray key = id.toLatin1();
    bool inSection = false;
    for (QByteArray line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const QByteArray word = line.trimmed();
        if (word == "kvs" || word == "cmr" || word == "nmea" || word == "rtcm") {
            inSection = word == section;
            continue;
        }
        // The identifier, one separator, the description; "PG" must not match a line of "PGX".
        if (inSection && line.startsWith(key) && line.size() > key.size() &&
            !QChar::fromLatin1(line[key.size()]).isLetterOrNumber()) {
            return QString::fromLatin1(line.mid(key.size() + 1)).left(kMaxDescriptionLength);
        }
    }
    return QString();
}

QByteArray LoadCatalogue(const QString& programFolder)
{
    constexpr qint64 kMaxCatalogue = 1 << 20;
    QFile disk(QDir(programFolder).filePath(QStringLiteral("comment.txt")));
    if (disk.open(QIODevice::ReadOnly)) {
        return disk.read(kMaxCatalogue);
    }
    QFile builtIn(QStringLiteral(":/TextFile"));
    return builtIn.open(QIODevice::ReadOnly) ? builtIn.read(kMaxCatalogue) : QByteArray();
}

QStringList SelectedMessages(const std::vector<LogMessageEntry>& entries)
{
    static const QStringList kAdded = {QStringLiteral("RT"), QStringLiteral("RD"), QStringLiteral("MF"),
                                       QStringLiteral("KV"), QStringLiteral("EE")};
    QStringList ids;
    for (const LogMessageEntry& e : entries) {
        if (e.use && !e.id.isEmpty() && !kAdded.contains(e.id)) {
            ids << e.id;
        }
    }
    return ids;
}

QStringList EmStatements(LogType type, const QStringList& ids, const QString& interval, int maxLength)
{
    const QString head = QStringLiteral("em,,");
    const QString family = QLatin1String(SectionName(type)) + QLatin1Char('/');
    QStringList out;
    QString line;
    for (const QString& id : ids) {
        // Four-digit RTCM numbers (1001 and up) are RTCM 3 messages, which the receiver names apart.
        const bool rtcm3 = type == LogType::Rtcm && id.size() == 4 && id.toInt() >= 1001;
        const QString item =
            (rtcm3 ? QStringLiteral("rtcm3/") : family) + id + QStringLiteral(":{") + interval + QLatin1Char('}');
        if (!line.isEmpty() && line.size() + 1 + item.size() > maxLength) {
            out << line;
            line.clear();
        }
        line += line.isEmpty() ? head + item : QLatin1Char(',') + item;
    }
    if (!line.isEmpty()) {
        out << line;
    }
    return out;
}
