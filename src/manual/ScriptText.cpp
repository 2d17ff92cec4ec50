#include "manual/ScriptText.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

}  // namespace

QStringList SplitTokens(const QString& text)
{
    QStringList tokens;
    const int n = int(text.size());
    int i = 0;
    while (i < n && tokens.size() < 10) {
        while (i < n && IsBlank(text[i])) {
            ++i;
        }
        if (i == n) {
            break;
        }
        const int start = i;
        while (i < n && !IsBlank(text[i])) {
            ++i;
        }
        tokens << text.mid(start, i - start);
    }
    return tokens;
}

QStringList SplitInvocation(const QString& text)
{
    const QString trimmed = text.trimmed();
    const qsizetype close = trimmed.startsWith(QLatin1Char('"')) ? trimmed.indexOf(QLatin1Char('"'), 1) : -1;
    if (close <= 1) {
        return SplitTokens(trimmed);
    }
    QStringList tokens{trimmed.mid(1, close - 1)};
    tokens += SplitTokens(trimmed.mid(close + 1)).mid(0, 9);
    return tokens;
}

SubstituteResult SubstituteVariables(QString& line, const ScriptSlots& vars)
{
    if (line.startsWith(QLatin1String("@default")) || line.startsWith(QLatin1String("@set")) ||
        line.startsWith(QLatin1String("@send"))) {
        return SubstituteResult::Ok;
    }
    int pos = 0;
    int replacements = 0;
    for (;;) {
        const int at = int(line.indexOf(QLatin1Char('@'), pos));
        if (at < 0) {
            return SubstituteResult::Ok;
        }
        // Only the first quoted stretch protects its references; the scan restarts after every replacement, so
        // the quotes are looked up anew each time.
        const int q1 = int(line.indexOf(QLatin1Char('"')));
        const int q2 = q1 < 0 ? -1 : int(line.indexOf(QLatin1Char('"'), q1 + 1));
        if (q1 >= 0 && q2 >= 0 && q1 <= at && at <= q2) {
            pos = at + 1;
            continue;
        }
        const QChar next = at + 1 < line.size() ? line[at + 1] : QChar();
        if (next >= QLatin1Char('0') && next <= QLatin1Char('9')) {
            if (++replacements > kMaxReplacements) {
                return SubstituteResult::Endless;
            }
            line.replace(at, 2, vars[size_t(next.unicode() - '0')]);
            if (line.size() > kMaxScriptLine) {
                return SubstituteResult::TooLong;
            }
            pos = 0;
            continue;
        }
        pos = at + 1;
    }
}

int VariableIndex(const QString& name)
{
    if (name.size() != 2 || name[0] != QLatin1Char('@')) {
        return 0;
    }
    const QChar d = name[1];
    return d >= QLatin1Char('1') && d <= QLatin1Char('9') ? d.unicode() - '0' : 0;
}

QString ReplyValue(const QString& reply)
{
    int p = int(reply.lastIndexOf(QLatin1Char('%')));
    if (p < 0) {
        p = 4;
    }
    return reply.mid(p + 1).trimmed();
}

QString DecodeScriptFile(const QByteArray& bytes)
{
    QString text;
    if (bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE) {
        const qsizetype chars = (bytes.size() - 2) / 2;  // an odd last byte is no character
        text.resize(chars);
        for (qsizetype i = 0; i < chars; ++i) {
            const uchar lo = uchar(bytes[2 + 2 * i]);
            const uchar hi = uchar(bytes[3 + 2 * i]);
            text[i] = QChar(char16_t(lo | (hi << 8)));
        }
    } else {
        text = QString::fromLatin1(bytes);
    }
    if (!text.endsWith(QLatin1Char('\n'))) {
        text += QLatin1String("\r\n");
    }
    return text;
}

QString UnifyLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

ScriptFileRead ReadScriptFile(const QString& path, QByteArray* bytes)
{
    bytes->clear();
    // Not blocking: opening a FIFO without a writer would wait for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return ScriptFileRead::CantOpen;
    }
    struct stat info = {};
    ScriptFileRead result = ScriptFileRead::Ok;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result = ScriptFileRead::CantOpen;
    } else if (info.st_size > kMaxScriptFileBytes) {
        result = ScriptFileRead::TooLarge;
    } else {
        // Read to the end rather than trusting the size: the file may have grown since, and some report none.
        bytes->reserve(qsizetype(info.st_size) + 1);
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                result = n < 0 ? ScriptFileRead::CantOpen : result;
                break;
            }
            bytes->append(chunk, qsizetype(n));
            if (bytes->size() > kMaxScriptFileBytes) {
                result = ScriptFileRead::TooLarge;
                break;
            }
        }
    }
    ::close(fd);
    if (result != ScriptFileRead::Ok) {
        bytes->clear();
    }
    return result;
}

QByteArray EncodeScriptFile(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(2 + 2 * text.size());
    bytes.append(char(0xFF));
    bytes.append(char(0xFE));
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

bool ReadDecimal(const QString& text, int* value)
{
    int i = 0;
    const int n = int(text.size());
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    const int digitsFrom = i;
    long long v = 0;
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        v = std::min(v * 10 + (text[i].unicode() - '0'), kLimit);
        ++i;
    }
    if (i == digitsFrom) {
        return false;
    }
    v = negative ? -v : v;
    *value = int(std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    return true;
}
