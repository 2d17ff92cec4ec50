#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// One file of the receiver's memory as its listing gives it. `time` counts seconds since 1988-01-01 00:00 UTC.
struct ReceiverFileRecord
{
    QString name;
    QString sizeText;   // as the receiver wrote it
    int64_t size = -1;  // -1 when the size text is not a number
    int64_t time = 0;
};

// Seconds from 1970-01-01 to 1988-01-01, both UTC.
constexpr int64_t kReceiverEpochOffset = 567993600;
// The most records a listing may give, whatever the receiver claims.
constexpr int kMaxListingRecords = 100000;

// Reads the reply to "print,/log/&[name,size,time]" ("RE...{{name,size,time},{...}}"): after the frame header
// and the value's own opening brace (blanks before it are allowed), record by record, at most `maxRecords`. Names
// and sizes are bounded. A record that cannot be read is passed over up to the next record boundary ("},{") and
// counted in `skipped`, so that one bad record does not hide the files after it.
std::vector<ReceiverFileRecord> ParseFileListing(const QString& reply, int* skipped = nullptr,
                                                 int maxRecords = kMaxListingRecords);

// Why a receiver file name (or a local target name) can't be used, or an empty text. Refused: empty or blank,
// an absolute path or a path separator, "..", control characters (C0, DEL and C1), invisible format characters
// (bidirectional overrides, zero-width ones, ...), text that was not valid UTF-8, a double quote, the
// characters of the receiver's command line (",;&{}:"), device names (CON, NUL, COM1, ...), and names of more
// than 255 bytes. Such a name never reaches a receiver command or a local path.
QString FileNameProblem(const QString& name);

// A name (or any text of the receiver) as it may be shown in a list or on a terminal: every character that
// FileNameProblem calls a control, format or invalid one is written as "\xNN" or "\uNNNN", and a backslash as
// "\\", so that nothing the receiver sends can steer a terminal or hide what a name really is.
QString PrintableName(const QString& name);
