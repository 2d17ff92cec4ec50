#pragma once

#include <QString>
#include <QStringList>

// scanf over a receiver reply: the text is copied into a bounded, NUL-terminated narrow buffer first.
// Formats must give every %[ and %s a width. Returns what sscanf returns (-1 for an empty text).
int ScanText(const QString& text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// The value of an answer line: the text from its sixth character on, trimmed.
QString AnswerValue(const QString& reply);

// The messages a port outputs, from the value of "print,/par/out<port>:on": "{A={p1,p2},B={p3}}" gives "A:{p1,p2}"
// and "B:{p3}", each message with its parameters up to the next closing brace. Reading stops at an item without
// "=".
QStringList PortMessageItems(const QString& value);
