#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

// The text operations of the script language. All of them are bounded: script lines and receiver replies are
// untrusted, and a value that refers back to itself must not expand forever.

// The ten variables of one script level: @0 holds the value of the last reply, @1 ... @9 the arguments.
using ScriptSlots = std::array<QString, 10>;

// Longest line the language accepts, before and after substitution.
constexpr int kMaxScriptLine = 511;
// Replacements allowed while expanding one line. A line of 511 characters holds at most 255 references, and
// arguments may refer to each other a few levels deep; anything near this bound is a value that refers to itself.
constexpr int kMaxReplacements = 4096;

// Cuts `text` at runs of blanks (spaces and tabs); at most 10 tokens, the rest is dropped.
QStringList SplitTokens(const QString& text);

// The tokens of a script invocation: a file name and up to nine arguments. A name in double quotes may hold
// blanks; the quotes are not part of it.
QStringList SplitInvocation(const QString& text);

enum class SubstituteResult {
    Ok,
    TooLong,  // the line grew to more than kMaxScriptLine characters
    Endless,  // more than kMaxReplacements references were replaced
};

// Replaces "@0" ... "@9" outside the first quoted stretch of `line` by the variables' texts. Lines beginning with
// "@default", "@set" or "@send" are left as they are. On a failure `line` holds the partly expanded text.
SubstituteResult SubstituteVariables(QString& line, const ScriptSlots& vars);

// 1 ... 9 for "@1" ... "@9", 0 for any other name.
int VariableIndex(const QString& name);

// The value of a reply: the text after its last '%', or after the five header characters when it has none,
// trimmed.
QString ReplyValue(const QString& reply);

// A script file's text: UTF-16LE after the mark FF FE, else 8-bit Latin-1. A final line end is added when the
// text does not end with LF, so that the last line always counts.
QString DecodeScriptFile(const QByteArray& bytes);

// `text` with every line ending in LF alone: CR LF, and a CR on its own, end a line.
QString UnifyLineEnds(QString text);

// Largest script file read, in bytes.
constexpr qint64 kMaxScriptFileBytes = qint64(1) << 20;

enum class ScriptFileRead {
    Ok,
    CantOpen,  // missing, unreadable, or not a regular file (a FIFO or a device would block or never end)
    TooLarge,  // more than kMaxScriptFileBytes
};

// Reads a script file whole, without blocking on special files.
ScriptFileRead ReadScriptFile(const QString& path, QByteArray* bytes);

// The bytes FF FE and the text as UTF-16LE.
QByteArray EncodeScriptFile(const QString& text);

// A decimal integer at the start of `text` (sign allowed, digits up to the first other character), clamped to
// the int range. False when no digit is there.
bool ReadDecimal(const QString& text, int* value);
