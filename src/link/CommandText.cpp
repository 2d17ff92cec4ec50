#include "link/CommandText.h"

#include "link/Checksum.h"
#include "link/Framer.h"

#include <algorithm>

std::vector<Statement> SplitChain(const QString& line)
{
    std::vector<Statement> result;
    qsizetype start = 0;  // of the statement being read
    bool quoted = false;
    int braces = 0;
    auto finish = [&](qsizetype end, const QString& separator) {
        Statement s;
        QStringView text = QStringView(line).sliced(start, end - start).trimmed();
        if (text.startsWith(QLatin1Char('%'))) {
            const qsizetype close = text.indexOf(QLatin1Char('%'), 1);
            if (close > 0) {
                s.tagged = true;
                s.tag = text.sliced(1, close - 1).toString();
                text = text.sliced(close + 1);
            }
        }
        // A line of one untagged statement, the usual case, is shared rather than copied.
        s.text = text.size() == line.size() ? line : text.toString();
        s.separator = separator;
        result.push_back(std::move(s));
    };
    const qsizetype n = line.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('{')) {
            ++braces;
        } else if (!quoted && c == QLatin1Char('}') && braces > 0) {
            --braces;
        } else if (!quoted && braces == 0) {
            if (c == QLatin1Char('&') && i + 1 < n && line[i + 1] == QLatin1Char('&')) {
                finish(i, QStringLiteral("&&"));
                start = ++i + 1;
            } else if (c == QLatin1Char(';')) {
                finish(i, QStringLiteral(";"));
                start = i + 1;
            }
        }
    }
    finish(n, QString());
    // A trailing separator leaves an empty statement behind; the receiver ignores it, and so do we.
    while (result.size() > 1 && result.back().text.isEmpty() && !result.back().tagged) {
        result.pop_back();
        result.back().separator.clear();
    }
    return result;
}

QString TaggedStatement(const Statement& statement, const QString& tag)
{
    QString text = statement.text;
    const int n = text.size();
    bool hasChecksum = false;
    if (n >= 3 && text[n - 3] == QLatin1Char('@')) {
        const QByteArray tail = text.right(2).toLatin1();
        if (HexDigitValue(tail[0]) >= 0 && HexDigitValue(tail[1]) >= 0) {
            const QString original =
                (statement.tagged ? QLatin1Char('%') + statement.tag + QLatin1Char('%') : QString()) +
                text.left(n - 2);
            const QByteArray bytes = original.toLatin1();
            hasChecksum = Checksum8(bytes.constData(), size_t(bytes.size())) ==
                          HexDigitValue(tail[0]) * 16 + HexDigitValue(tail[1]);
        }
    }
    QString result;
    result.reserve(tag.size() + n + 2);
    result += QLatin1Char('%');
    result += tag;
    result += QLatin1Char('%');
    if (hasChecksum) {
        // The checksum covered the caller's form; the receiver must see one that covers ours.
        result += text.left(n - 2);
        const QByteArray bytes = result.toLatin1();
        result += QString::asprintf("%02X", Checksum8(bytes.constData(), size_t(bytes.size())));
    } else {
        result += text;
    }
    return result;
}

CommandBatch ParseCommandBatch(const QString& text)
{
    CommandBatch batch;
    if (!text.contains(QLatin1Char('\n'))) {
        // One line, the usual case: no list of lines to make.
        const QString trimmed = text.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(QLatin1String("@scr"), Qt::CaseInsensitive)) {
            batch.lines << trimmed;
            return batch;
        }
    }
    const QStringList raw = text.split(QLatin1Char('\n'));
    bool first = true;
    for (QString line : raw) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty()) {
            continue;
        }
        if (first && trimmed.startsWith(QLatin1String("@scr"), Qt::CaseInsensitive)) {
            batch.scripted = true;
            const QStringList words = trimmed.simplified().split(QLatin1Char(' '));
            batch.stopOnErrors = words.size() >= 2 && words[1].compare(QLatin1String("stoperrors"),
                                                                       Qt::CaseInsensitive) == 0 &&
                                 !(words.size() >= 3 && words[2].compare(QLatin1String("off"),
                                                                         Qt::CaseInsensitive) == 0);
            first = false;
            continue;
        }
        first = false;
        if (batch.scripted && trimmed.compare(QLatin1String("@end"), Qt::CaseInsensitive) == 0) {
            break;
        }
        batch.lines << trimmed;
    }
    return batch;
}

ReplyBody SplitReplyBody(const QByteArray& body)
{
    ReplyBody r;
    if (body.startsWith('%')) {
        const int close = body.indexOf('%', 1);
        if (close > 0) {
            r.tagged = true;
            r.tag = body.mid(1, close - 1);
            r.rest = body.mid(close + 1);
            return r;
        }
    }
    r.rest = body;
    return r;
}

QByteArray BuildFrame(const char id[2], const QByteArray& body)
{
    static_assert(CFramer::kMaxBody == 0xFFF, "three length digits");
    const qsizetype n = std::min<qsizetype>(body.size(), CFramer::kMaxBody);
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray frame;
    frame.reserve(CFramer::kHeaderSize + n);
    frame.append(id, 2);
    frame.append(kHex[n >> 8]);
    frame.append(kHex[(n >> 4) & 0xF]);
    frame.append(kHex[n & 0xF]);
    frame.append(body.constData(), n);
    return frame;
}

QString KvsMessageName(const QByteArray& id)
{
    static const char* const kNamed[][2] = {{"~~", "RT"}, {"||", "EE"}, {"::", "ET"}, {"==", "EV"}};
    for (const auto& n : kNamed) {
        if (id == n[0]) {
            return QLatin1String(n[1]);
        }
    }
    return QString::fromLatin1(id);
}

QByteArray KvsStreamId(const QString& name)
{
    if (name == QLatin1String("RT")) {
        return "~~";
    }
    if (name == QLatin1String("EE")) {
        return "||";
    }
    if (name == QLatin1String("ET")) {
        return "::";
    }
    if (name == QLatin1String("EV")) {
        return "==";
    }
    return name.toLatin1();
}
