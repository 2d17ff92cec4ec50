#pragma once

#include "link/CommandText.h"  // KvsStreamId

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <vector>

// How one message is output on a port.
struct MsgOutput
{
    int64_t periodMs = 1000;
    int64_t phaseMs = 0;
    int64_t count = -1;  // outputs left; -1 = no limit
    int flags = 0;
};

// Message path ("/msg/kvs/~~", "/msg/rtcm/1", "/msg/nmea/GGA") -> how it is output.
using PortOutputs = std::map<QString, MsgOutput>;

struct MsgRequest
{
    QString path;
    MsgOutput output;
};

enum class MsgSpecError { None, Unknown, OutOfRange };

// Reads the message arguments of "em" (withOptions) or "dm": "/msg/def", "def:{1.00}", "kvs/EE:1",
// "kvs{/PG:1,/RT:1.00,/EE:{1.00,0}}:2", "rtcm{/1:1.00,/31:1.00,/3:10}", "nmea/GGA:1", ... Predefined sets are
// expanded into their messages. `rtk` false refuses the RTK sets.
MsgSpecError ParseMessageSpecs(const QStringList& specs, bool withOptions, bool rtk, std::vector<MsgRequest>* out);

// The receiver's own messages, by stream id ("~~", "PG", ...).
bool IsKnownKvsId(const QByteArray& id);
QStringList KnownKvsIds();

// Where a message goes within an epoch: "~~" first, then RD, SI, NN, the per-satellite messages, the position
// messages, and "::" and "||" last.
int EpochRank(const QByteArray& id);

// A binary message: identifier, length digits, body and the checksum byte, followed by LF.
QByteArray BinaryFrame(const char id[2], const QByteArray& body);

// Splits a command's arguments at commas outside braces, brackets and double quotes.
QStringList SplitArguments(const QString& text);
