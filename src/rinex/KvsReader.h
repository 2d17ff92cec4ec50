#pragma once

#include <QByteArray>
#include <QDateTime>

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

// Reads a recorded KVS message stream (with or without the leading KV file identifier) into observation epochs.
// Receiver data are untrusted: every length is checked, every binary message's checksum verified, and an epoch
// that holds anything that failed is dropped whole and counted, never written.

namespace Kvs {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kRawSignals = 3;  // CA/L1, P/L1, P/L2
}  // namespace Kvs

enum class KvsSystem : uint8_t { Gps, Glonass, Galileo, Sbas, Qzss };

struct KvsSignal
{
    double pseudorange = Kvs::kNaN;  // s
    double phase = Kvs::kNaN;        // cycles
    int cn0 = -1;                    // dB-Hz, -1 none
    int lockFlags = -1;              // -1 not reported
};

struct KvsSatellite
{
    KvsSystem system = KvsSystem::Gps;
    int prn = 0;                 // RINEX satellite number (GLONASS: slot)
    int channel = 0;             // GLONASS frequency number
    bool channelKnown = true;    // false for a GLONASS satellite reported without its channel
    double doppler = Kvs::kNaN;  // L1 Hz as the receiver reports it: positive while the range grows
    std::array<KvsSignal, Kvs::kRawSignals> signal{};
};

struct KvsEpoch
{
    QDateTime gpsTime;  // receiver time in GPS time
    std::vector<KvsSatellite> sats;
};

struct KvsResult
{
    bool isKvs = false;            // at least one intact frame, or the KV file identifier
    bool badTime = false;          // a time scale that cannot be turned into GPS time, or no date at all
    int skipped = 0;               // epochs, messages or byte runs left out because they could not be trusted
    std::vector<KvsEpoch> epochs;  // in time order, one per time
    double x = 0, y = 0, z = 0;    // approximate position (ECEF), 0 when none was reported
    // Ephemeris message bodies (GE, NE) whose checksum held, without the checksum byte, one per satellite and
    // reference time.
    std::map<std::pair<int, uint32_t>, QByteArray> gpsEphemerides, glonassEphemerides;
};

class CKvsReader
{
public:
    // Leap seconds between UTC and GPS time at `utc`; -1 before 1999 where this reader has no table.
    static int LeapSeconds(const QDate& utc);
    static KvsResult Read(const QByteArray& data);
};
