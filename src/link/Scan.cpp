#include "link/Scan.h"

#include <QByteArray>

#include <cstdarg>
#include <cstdio>

int ScanText(const QString& text, const char* format, ...)
{
    // Replies are 8-bit text; a frame holds at most 4095 bytes, so longer texts are cut there.
    const QByteArray narrow = text.left(8192).toLatin1();
    va_list args;
    va_start(args, format);
    const int n = std::vsscanf(narrow.constData(), format, args);
    va_end(args);
    return n;
}

QString AnswerValue(const QString& reply)
{
    return reply.mid(5).trimmed();
}

QStringList PortMessageItems(const QString& value)
{
    QStringList items;
    const qsizetype brace = value.indexOf(QLatin1Char('{'));
    if (brace < 0) {
        return items;
    }
    qsizetype pos = brace + 1;
    while (pos < value.size()) {
        const qsizetype close = value.indexOf(QLatin1Char('}'), pos);
        if (close < 0) {
            break;
        }
        QString item = value.mid(pos, close - pos + 1);
        if (item.isEmpty() || !item.contains(QLatin1Char('='))) {
            break;
        }
        items << item.replace(QLatin1Char('='), QLatin1Char(':'));
        pos = close + 1;
        if (pos < value.size() && value[pos] == QLatin1Char(',')) {
            ++pos;
        }
    }
    return items;
}
