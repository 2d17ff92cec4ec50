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
