#pragma once

#include <QString>

// scanf over a receiver reply: the text is copied into a bounded, NUL-terminated narrow buffer first.
// Formats must give every %[ and %s a width. Returns what sscanf returns (-1 for an empty text).
int ScanText(const QString& text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// The value of an answer line: the text from its sixth character on, trimmed.
QString AnswerValue(const QString& reply);
