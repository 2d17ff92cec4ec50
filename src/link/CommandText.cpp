#include "link/CommandText.h"

#include "link/Checksum.h"
#include "link/Framer.h"

std::vector<Statement> SplitChain(const QString& line)
{
    std::vector<Statement> result;
    QString current;
    bool quoted = false;
    int braces = 0;
    auto finish = [&](const QString& separator) {
        Statement s;
        QString text = current.trimmed();
        if (text.startsWith(QLatin1Char('%'))) {
            const int close = text.indexOf(QLatin1Char('%'), 1);
            if (close > 0) {
                s.tagged = true;
                s.tag = text.mid(1, close - 1);
                text = text.mid(close + 1);
            }
        }
        s.text = text;
        s.separator = separator;
        result.push_back(s);
        current.clear();
    };
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('{')) {
            ++braces;
        } else if (!quoted && c == QLatin1Char('}') && braces > 0) {
            --braces;
        } else if (!quoted && braces == 0) {
            if (c == QLatin1Char('&') && i + 1 < line.size() && line[i + 1] == QLatin1Char('&')) {
                finish(QStringLiteral("&&"));
                ++i;
                continue;
            }
            if (c == QLatin1Char(';')) {
                finish(QStringLiteral(";"));
                continue;
            }
        }
        current += c;
    }
    finish(QString());
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
    QString result = QLatin1Char('%') + tag + QLatin1Char('%');
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
    const QByteArray b = body.left(CFramer::kMaxBody);
    QByteArray frame;
    frame.reserve(CFramer::kHeaderSize + b.size());
    frame.append(id, 2);
    frame.append(QByteArray::number(b.size(), 16).toUpper().rightJustified(3, '0'));
    frame.append(b);
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
