#pragma once

#include "link/Checksum.h"  // Crc24q of the RTCM 3 frames
#include "sim/MessageGenerator.h"

#include <QByteArray>

#include <cstdint>

// Messages in the formats of other makers' equipment that the receiver also outputs: NMEA 0183 sentences and
// RTCM 3 frames, made from the same epoch as its own messages.

// "$GPGGA,...*hh\r\n" and the like for `id` "GGA", "RMC", "GSV" (one sentence per four satellites of a system)
// or "ZDA"; empty for a sentence the receiver does not make. `utcMs` is the epoch's UTC in ms since 1970.
QByteArray NmeaSentences(const QByteArray& id, const EpochData& epoch, int64_t utcMs);

// One RTCM 3 frame (0xD3, length, message, CRC-24Q) for message `number`: 1004 (GPS L1/L2 observables), 1012
// (GLONASS L1/L2 observables), 1005 and 1006 (station position, 1006 with an antenna height of 0); empty for
// others. `more` sets the synchronous flag of the observables (another observables message of the epoch
// follows).
QByteArray Rtcm3Frame(int number, const EpochData& epoch, const Vec3& station, int stationId, int64_t utcMs, bool more);
