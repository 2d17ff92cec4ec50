#pragma once

#include "logging/LogEngine.h"

#include <QString>

#include <cstdint>

// One line on how a recording is doing, for the dialog and the headless recorder: the rate since the last
// line, the messages by identifier, the checksum errors of the link, the free space of the folder's medium and
// the time until it is full at the current rate.
QString LogHealthLine(const LogCounts& now, const LogCounts& before, double seconds, uint64_t badChecksums,
                      int64_t freeBytes);
// Free bytes of the medium holding `folder`, -1 when unknown.
int64_t FreeBytesAt(const QString& folder);
