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

// One "{name,size,time}" from `pos`, which it leaves after the closing brace.
bool ReadRecord(const QString& text, qsizetype& pos, ReceiverFileRecord* r)
{
    if (text[pos] != QLatin1Char('{')) {
        return false;
    }
    const qsizetype nameFrom = ++pos;
    while (pos < text.size() && pos - nameFrom <= kMaxName && text[pos] != QLatin1Char(',') &&
           text[pos] != QLatin1Char('{') && text[pos] != QLatin1Char('}')) {
        ++pos;
    }
    if (pos >= text.size() || text[pos] != QLatin1Char(',') || pos == nameFrom) {
        return false;
    }
    r->name = text.mid(nameFrom, pos - nameFrom);
    const qsizetype sizeFrom = ++pos;
    int64_t size = 0;
    if (!ReadNumber(text, pos, QLatin1Char(','), &size)) {
        return false;
    }
    r->sizeText = text.mid(sizeFrom, pos - sizeFrom).trimmed();
    r->size = size >= 0 ? size : -1;
    ++pos;
    if (!ReadNumber(text, pos, QLatin1Char('}'), &r->time)) {
        return false;
    }
    ++pos;
    return true;
}

// A character no file name may hold and no list may show as it is: controls (C0, DEL, C1), invisible format
// characters, line and paragraph separators, the replacement character that stands for bytes that were not
// UTF-8, and a surrogate without its pair.
bool Unprintable(const QString& text, qsizetype i, qsizetype* length)
{
    const QChar c = text[i];
    *length = 1;
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        *length = 2;
        return QChar::category(QChar::surrogateToUcs4(c, text[i + 1])) == QChar::Other_Format;
    }
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || c.isSurrogate() || u == 0xFFFD ||
           c.category() == QChar::Other_Format || c.category() == QChar::Separator_Line ||
           c.category() == QChar::Separator_Paragraph;
}

}  // namespace

std::vector<ReceiverFileRecord> ParseFileListing(const QString& reply, int* skipped, int maxRecords)
{
    std::vector<ReceiverFileRecord> records;
    int bad = 0;
    // Skip "RE" and the length digits; a receiver may put blanks before the value.
    qsizetype pos = 5;
    while (pos < reply.size() && reply[pos] == QLatin1Char(' ')) {
        ++pos;
    }
    if (pos < reply.size() && reply[pos] == QLatin1Char('{')) {
        ++pos;
        const int cap = std::min(maxRecords, kMaxListingRecords);
        while (int(records.size()) < cap && pos < reply.size() && reply[pos] != QLatin1Char('}')) {
            const qsizetype start = pos;
            ReceiverFileRecord r;
            if (ReadRecord(reply, pos, &r)) {
                records.push_back(r);
                if (pos < reply.size() && reply[pos] == QLatin1Char(',')) {
                    ++pos;
                }
                continue;
            }
            ++bad;
            const qsizetype next = reply.indexOf(QLatin1String("},{"), start);
            if (next < 0) {
                break;
            }
            pos = next + 2;
        }
    }
    if (skipped) {
        *skipped = bad;
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
    for (qsizetype i = 0, n = 0; i < name.size(); i += n) {
        if (Unprintable(name, i, &n)) {
            return QStringLiteral("The file name contains a control, invisible or invalid character");
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

QString PrintableName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0, n = 0; i < name.size(); i += n) {
        if (!Unprintable(name, i, &n)) {
            out.append(name.constData() + i, n);
            if (name[i] == QLatin1Char('\\')) {
                out += QLatin1Char('\\');
            }
            continue;
        }
        for (qsizetype k = 0; k < n; ++k) {
            const ushort u = name[i + k].unicode();
            out += u < 0x100 ? QString::asprintf("\\x%02X", u) : QString::asprintf("\\u%04X", u);
        }
    }
    return out;
}
