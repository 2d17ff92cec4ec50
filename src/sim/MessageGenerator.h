#pragma once

#include "sim/SkyModel.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

// Faults the message stream can carry on request, so that tests can check the program's side of bad input.
enum class SimFault {
    BadChecksum,           // wrong checksum byte (binary) or wrong "@HH" digits (text)
    TruncatedBody,         // the body cut to half, framed with a matching length and a right checksum
    SiLonger,              // SI lists two satellites more than the other per-satellite messages of its epoch
    SiShorter,             // SI lists two satellites fewer
    OutOfRangeSatellites,  // numbers outside their ranges in SI, NN, GA, NA, GS or NS
};

// Receivers differ in how they report raw data; a profile picks one behaviour of each.
struct RawDataProfile
{
    int timeScale = 0;            // of ~~ and RD: 0 GPS, 1 UTC(USNO), 2 GLONASS, 3 UTC(SU)
    bool siOnlyOnChange = false;  // SI (and NN) only when the set of satellites changes
    int unknownSlot = 0;          // this GLONASS slot is reported as 255 in NN
    int noChannelSlot = 0;        // this GLONASS slot is listed in SI as index 70 (channel unknown)
};

// A cycle slip to inject: the satellite (PRN; the slot for GLONASS) loses phase lock at `atMs` (simulated ms
// since the receiver started).
struct CycleSlip
{
    GnssSystem system = GnssSystem::Gps;
    int number = 0;
    int64_t atMs = 0;
};

// Command-line forms, for nemola-sim and tests:
//   raw profile  comma-separated items: a time scale ("gps", "utc-usno", "glonass", "utc-su"), "si-on-change",
//                "unknown-slot=N", "no-channel-slot=N"; e.g. "utc-su,si-on-change,unknown-slot=3"
//   cycle slips  comma-separated satellite@seconds (whole seconds since start): G (GPS PRN), R (GLONASS slot),
//                E (Galileo), S (SBAS PRN), e.g. "G05@120,R07@300"
bool ParseRawProfile(const QString& text, RawDataProfile* out, QString* error);
bool ParseCycleSlips(const QString& text, std::vector<CycleSlip>* out, QString* error);

// What the generator reads from the receiver's state, once per epoch.
struct ReceiverStatus
{
    int64_t bootMs = 0;                      // when the receiver last came up
    int64_t trackingSinceMs = 0;             // start of continuous tracking
    bool almanacValid = true;                // false after an NVRAM clear: the almanac takes longer to collect
    QString posMode = QStringLiteral("sp");  // sp, cd, wd, pf, pd
    int elevationMask = 5;                   // degrees
    bool roverMode = false;
    bool l1Only = false;
    std::array<bool, 4> systems = {true, true, true, true};  // GPS, GLONASS, Galileo, SBAS in the solution
};

// One tracked satellite at one epoch.
struct EpochSat
{
    const SimSatellite* sat = nullptr;
    SatView view;
    double lockSeconds = 0;
    bool used = false;
    uint8_t status = 0;
    std::array<uint8_t, SimSignal::kCount> cn0{};  // dB-Hz, 255 none: CA/L1, P/L1, P/L2, CA/L2, L5
    int32_t doppler = 0;                           // L1, 1e-4 Hz
    std::array<double, 3> pseudorange{};           // s: CA/L1, P/L1, P/L2; 0 none
    std::array<double, 3> phase{};                 // cycles, same signals
    std::array<uint16_t, 3> lockFlags{};
    double iono = 0;  // the ionosphere's delay of the L1 code [m], which no message carries
};

struct EpochData
{
    int64_t t = -1;
    std::vector<EpochSat> sats;  // in SI order: GPS, GLONASS, Galileo, SBAS, each by number
    int solution = 0;            // 0 none, 1 standalone, 2 code differential, 3 RTK float, 4 RTK fixed
    Dops dops;
    Vec3 pos;                             // ECEF; zero without a solution
    double lat = 0, lon = 0, height = 0;  // height above the ellipsoid
    double geoidSeparation = 0;           // the geoid above the ellipsoid at the site
    Vec3 vel;
    float posError = 0, velError = 0;
    float hRms = 0, vRms = 0, hVelRms = 0, vVelRms = 0;
    double clockOffset = 0;  // s
    double drift = 0;        // s/s, as measured this epoch
    double smoothedDrift = 0;
    double oscillator = 0;
};

// Produces the receiver's messages: binary layouts and text messages with their checksums, from the sky model
// and the receiver's state. Stateless per message except for the injected faults and events: what one port
// gets never depends on what another asked for.
//
// Text messages end with "@" and the two hex digits of their checksum:
//   MS  ",RTCMST,<age>,<ok>,<bad>,<percent>," - "%03d,%04d,%04d,%.2f"; ",RTCMST,999,0000,0000,100.00," when no
//       corrections arrive (no rover mode)
//   GS  ",GPSVST,<n>,{prn,el,az,{ca,p1,p2,l2c,l5},status},{...},"  (el, az in whole degrees; 0 = no signal)
//   NS  ",GLSVST,<n>,{slot,channel,el,az,{ca,p1,p2,ca2,l3},status},{...},"  (",GLSVST,0,{}," when none)
//
// Almanac and ephemeris records (GA, NA, GE, NE), one per output in rotation; angles in semicircles as
// broadcast:
//   GA (46 + cs): u1 PRN; i2 week; i4 toa [s of week]; u1 health; u1 summary health; u1 configuration;
//       f4 af1 [s/s]; f4 af0 [s]; f4 sqrt(A) [m^0.5]; f4 e; f4 M0; f4 Omega0; f4 omega; f4 delta-i (against
//       0.3); f4 Omega-dot [semicircles/s]
//   NA (46 + cs): u1 slot; i1 channel; i2 day in the four-year interval; f4 time of the first ascending node
//       of that day [s]; u1 health; f4 tau-n [s]; f8 longitude of that node; f4 delta-i (against 63 degrees);
//       f4 e; f4 omega; f8 delta-T (draconic period less 43200 s) [s]; f4 delta-T-dot [s/orbit^2]; u1 N4
//   GE (122 + cs): u1 PRN; u4 time of week [s]; u1 flags; i2 IODC; i4 toc; i1 URA index; u1 health; i2 week;
//       f4 TGD; f4 af2; f4 af1; f4 af0; i4 toe; i2 IODE; f8 sqrt(A); f8 e; f8 M0; f8 Omega0; f8 i0; f8 omega;
//       f4 delta-n; f4 Omega-dot; f4 i-dot; f4 Crc, Crs [m]; f4 Cuc, Cus, Cic, Cis [rad]
//   NE (87 + cs): u1 slot; i1 channel; i2 day in the four-year interval; i4 tk; i4 tb [s of the GLONASS day];
//       u1 health; u1 age [days]; u1 flags; f8 x, y, z [km]; f4 vx, vy, vz [km/s]; f4 ax, ay, az [km/s^2] (PZ-90);
//       f8 GLONASS to UTC(SU) [s]; f4 tau-n [s]; f4 gamma-n; f4 delta-tau-n [s]; u1 Ft; u1 N4; u2 flags
class CMessageGenerator
{
public:
    static constexpr int64_t kGpsMinusUtcMs = 18000;
    static constexpr int64_t kFirstFixMs = 5000;  // after a start or reset: no position before
    static constexpr int kMaxEventsPerOutput = 16;
    // Satellite status: used in the solution, below the elevation mask, its system left out of the solution.
    static constexpr uint8_t kStatusUsed = 0;
    static constexpr uint8_t kStatusBelowMask = 22;
    static constexpr uint8_t kStatusSystemOff = 24;
    static constexpr uint8_t kStatusNoSolution = 26;

    CMessageGenerator(double latDeg, double lonDeg, double heightM, uint32_t seed, int64_t startUtcMs);

    // The receiver's clock jumps by `ms` (a clock reset, a leap): every time it reports moves with it.
    void ShiftClock(int64_t ms) { m_startUtcMs += ms; }
    // The receiver's time (GPS, ms since 1970) at model time `t`: periodic output keeps to its grid.
    int64_t ReceiverMs(int64_t t) const { return m_startUtcMs + t + kGpsMinusUtcMs; }
    // Positions are the site itself, without noise.
    void SetExactPosition(bool exact) { m_exactPosition = exact; }
    // The geoid's height above the ellipsoid at the site [m], for altitudes above mean sea level.
    void SetGeoidSeparation(double metres) { m_geoidSeparation = metres; }

    // The receiver came up (again) at `bootMs`: tracking and the almanac start over.
    void Reboot(int64_t bootMs);
    // Once per simulated second: satellites rise and set.
    void Step(int64_t t);

    // The frames of message `id` for the epoch at `t` (ms since start) on a port that outputs it every
    // `periodMs`: usually one frame, several event markers, or nothing when the message has nothing to say.
    QByteArray Frames(const QByteArray& id, int64_t t, int64_t periodMs, const ReceiverStatus& status);

    // An event input ('A' or 'B') fired at `atMs`; reported by XA/XB at the next output.
    void AddEvent(char input, int64_t atMs);
    // The next `count` frames of `id` carry the fault (for the SI faults: the next `count` SI).
    void InjectFault(SimFault fault, const QByteArray& id, int count);

    // Raw-data behaviours of particular receivers (see RawDataProfile).
    void SetRawProfile(const RawDataProfile& profile);
    // The satellite loses phase lock at `atMs` (its lock flags say so for that epoch) and its carrier
    // ambiguity changes from then on.
    void InjectCycleSlip(GnssSystem system, int number, int64_t atMs);
    // Whether the satellite's carrier was re-acquired (a slip) at the epoch `t`.
    bool SlipAt(const SimSatellite& sat, int64_t t) const;

    // The epoch as the messages describe it.
    const EpochData& Epoch(int64_t t, const ReceiverStatus& status);
    const CSkyModel& Sky() const { return m_sky; }
    // GPS PRNs (system Gps) or GLONASS slots whose almanac the receiver holds at `t`.
    std::vector<int> KnownAlmanac(GnssSystem system, int64_t t, const ReceiverStatus& status) const;

private:
    struct Event
    {
        char input;
        int64_t atMs;
        uint32_t ns;
    };
    struct PendingFault
    {
        SimFault fault;
        QByteArray id;
        int left;
    };

    int64_t ScaleMs(int64_t t) const;  // receiver time of the epoch in the profile's time scale
    int SlipCount(const SimSatellite& sat, int64_t t) const;
    bool SuppressSi(const QByteArray& id, const EpochData& e);

    bool NextFaultIs(const QByteArray& id, SimFault fault) const;
    bool TakeFault(const QByteArray& id, SimFault* fault);
    bool Body(const QByteArray& id, const EpochData& e, int64_t t, int64_t periodMs, const ReceiverStatus& status,
              bool outOfRange, QByteArray* body) const;
    // The body of each message group, true when the id belongs to it.
    bool SatelliteListBody(const QByteArray& id, const EpochData& e, bool outOfRange, QByteArray& b) const;
    bool SolutionBody(const QByteArray& id, const EpochData& e, int64_t t, const ReceiverStatus& status,
                      QByteArray& b) const;
    // The satellite whose almanac or ephemeris is due in this period; null when there is none.
    const SimSatellite* AlmanacSatellite(GnssSystem sys, int64_t t, int64_t slot, const ReceiverStatus& status) const;
    static const SimSatellite* TrackedSatellite(GnssSystem sys, const EpochData& e, int64_t slot);
    void PutGpsAlmanac(const SimSatellite& sat, int64_t t, bool outOfRange, QByteArray& b) const;
    void PutGlonassAlmanac(const SimSatellite& sat, int64_t t, bool outOfRange, QByteArray& b) const;
    void PutGpsEphemeris(const SimSatellite& sat, int64_t t, QByteArray& b) const;
    void PutGlonassEphemeris(const SimSatellite& sat, int64_t t, QByteArray& b) const;
    QByteArray Text(const QByteArray& id, const EpochData& e, const ReceiverStatus& status, bool outOfRange) const;
    void ComputeEpoch(int64_t t, const ReceiverStatus& status);
    // The steps of an epoch: the receiver clock, each tracked satellite's signals, the solution and its place.
    void ModelClock(int64_t t, EpochData& e) const;
    void Observe(size_t i, double lock, int64_t t, double arrival, const EpochData& e, const ReceiverStatus& status,
                 EpochSat& es) const;
    void MeasureRanges(size_t i, double lock, int64_t t, double arrival, const EpochData& e,
                       const ReceiverStatus& status, EpochSat& es) const;
    static int SolutionKind(const EpochData& e, int64_t t, const ReceiverStatus& status);
    void PlaceSolution(int64_t t, EpochData& e) const;
    double ModelSeconds(int64_t t) const { return double(t) / 1000.0; }
    double GpsSeconds(int64_t t) const;  // since the GPS epoch

    CSkyModel m_sky;
    uint32_t m_seed;
    bool m_exactPosition = false;
    double m_geoidSeparation = 0;
    int64_t m_startUtcMs;
    int64_t m_bootMs = 0;
    EpochData m_epoch;
    const EpochData m_noEpoch;
    std::deque<Event> m_events;
    std::vector<PendingFault> m_faults;
    RawDataProfile m_raw;
    struct Slip
    {
        GnssSystem system;
        int number;
        int64_t atMs;
    };
    std::vector<Slip> m_slips;
    QByteArray m_lastSi;  // the last SI sent, for siOnlyOnChange
    int64_t m_siSentAt = -1;
};

// A text message frame: identifier, length digits, the text, "@" and the two hex digits of the checksum.
QByteArray TextFrame(const char id[2], const QByteArray& text);
