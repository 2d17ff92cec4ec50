#include "link/FileListing.h"

#include <QRegularExpression>

namespace {

constexpr int kMaxName = 255;
constexpr int kMaxNumber = 20;

bool ReadNumber(const QString& text, qsizetype& pos, QChar end, int64_t* value)
{
    const qsizetype from = pos;
    while (pos < text.size() && text[pos] != end && pos - from <= kMaxNumber) {
        ++pos;
    }
    if (pos >= text.size() || text[pos] != end) {
        return false;
    }
    bool ok = false;
    *value = text.mid(from, pos - from).trimmed().toLongLong(&ok);
    return ok;
}

}  // namespace

std::vector<ReceiverFileRecord> ParseFileListing(const QString& reply, int maxRecords)
{
    std::vector<ReceiverFileRecord> records;
    // Skip "RE" and the length digits; a receiver may put blanks before the value.
    qsizetype pos = 5;
    while (pos < reply.size() && reply[pos] == QLatin1Char(' ')) {
        ++pos;
    }
    if (pos >= reply.size() || reply[pos] != QLatin1Char('{')) {
        return records;
    }
    ++pos;
    const int cap = std::min(maxRecords, kMaxListingRecords);
    while (int(records.size()) < cap && pos < reply.size() && reply[pos] == QLatin1Char('{')) {
        ++pos;
        ReceiverFileRecord r;
        const qsizetype nameFrom = pos;
        while (pos < reply.size() && reply[pos] != QLatin1Char(',') && pos - nameFrom <= kMaxName) {
            ++pos;
        }
        if (pos >= reply.size() || reply[pos] != QLatin1Char(',') || pos == nameFrom) {
            break;
        }
        r.name = reply.mid(nameFrom, pos - nameFrom);
        ++pos;
        const qsizetype sizeFrom = pos;
        int64_t size = 0;
        if (!ReadNumber(reply, pos, QLatin1Char(','), &size)) {
            break;
        }
        r.sizeText = reply.mid(sizeFrom, pos - sizeFrom).trimmed();
        r.size = size >= 0 ? size : -1;
        ++pos;
        if (!ReadNumber(reply, pos, QLatin1Char('}'), &r.time)) {
            break;
        }
        ++pos;
        records.push_back(r);
        if (pos < reply.size() && reply[pos] == QLatin1Char(',')) {
            ++pos;
        }
    }
    return records;
}

QString FileNameProblem(const QString& name)
{
    if (name.trimmed().isEmpty()) {
        return QStringLiteral("The file name is empty");
    }
    if (name.toUtf8().size() > kMaxName) {
        return QStringLiteral("The file name is too long");
    }
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return QStringLiteral("The file name contains a control character");
        }
    }
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')) ||
        (name.size() >= 2 && name[1] == QLatin1Char(':'))) {
        return QStringLiteral("The file name is an absolute path");
    }
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
        return QStringLiteral("The file name contains a path separator");
    }
    if (name.contains(QLatin1String(".."))) {
        return QStringLiteral("The file name contains \"..\"");
    }
    if (name.contains(QLatin1Char('"'))) {
        return QStringLiteral("The file name contains a double quote");
    }
    for (const char c : {',', ';', '&', '{', '}', ':'}) {
        if (name.contains(QLatin1Char(c))) {
            return QStringLiteral("The file name contains \"%1\"").arg(QLatin1Char(c));
        }
    }
    static const QRegularExpression kDevice(QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\\..*)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (kDevice.match(name.trimmed()).hasMatch()) {
        return QStringLiteral("The file name names a device");
    }
    if (name.trimmed() == QLatin1String(".")) {
        return QStringLiteral("The file name is not a file");
    }
    return QString();
}
