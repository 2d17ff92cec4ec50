#pragma once

#include "link/GpsData.h"

#include <QString>

#include <span>

// The live view's message table: which stream messages it takes from the receiver, in dispatch order, and whether
// an entry keeps every message of an epoch or only the newest.
struct MessageTableEntry
{
    char id[3];  // two identifier characters
    int flag;    // GPSDATA::kKeepAll or 0
};

// Epoch end first: its event wakes the connection thread. Messages whose every instance counts (text messages,
// error estimates, event markers) keep all.
std::span<const MessageTableEntry> MessageTableEntries();

// Builds the table with every entry's handler set to `handler`, ended by an entry with id 0. The epoch-end entry
// gets no handler: it only wakes the thread.
GpsDataTable BuildMessageTable(const GPSDATA::Handler& handler);

// Message sets requested from the receiver: a connection on this controller can carry the extra signal lists and
// the second event marker; a connection through a remote server gets the smaller set.
extern const char* const kLocalMessageSet;
extern const char* const kRemoteMessageSet;
QString MessageSetFor(bool localServerConnection);
