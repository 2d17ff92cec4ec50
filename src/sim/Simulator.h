#pragma once

#include "link/InProcessDevice.h"
#include "sim/MessageGenerator.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

struct SimState;

// Faults of a file download ("get"), each hitting one block once.
enum class SimTransferFault {
    CorruptBlock,  // a data byte flipped (the CRC no longer fits)
    LoseAck,       // the host's ACK is lost: the same block comes again
    Abort,         // the receiver aborts with "#"
    ErrorBlock,    // a last block of count -1 with an error text
    BadCount,      // a last block whose count exceeds the block size (CRC right)
    Silence,       // the block is not sent; a NAK asks for it again
    DropLink,      // the port goes away
};

// Faults of the file listing.
enum class SimListingFault {
    None,
    LeadingBlank,  // the value begins with a blank
};

// The names of the receiver profiles the simulator knows, "full" first.
QStringList SimProfileNames();
// The same as "full, basic, ... or korvan", for help texts.
QString SimProfileList();

// Options of a simulated receiver, chosen when it is created.
struct SimOptions
{
    // "full"; "basic" (no RTK, modem, Bluetooth, Wi-Fi, certification); "lite" (no datum feature); "fw21" and
    // "fw22", receivers with firmware 2.1 (without antenna offsets and CMR GLONASS message type) and 2.2; "ports"
    // (serial feature values 511, 115, 0, 1500, no USB), "arven" (its modem as modem b, no feature value for
    // serial port D, no CAN, no Wi-Fi).
    // "korvan": a model with switchable power on its ports and slots ("/par/pwr/ports", "/par/pwr/slots")
    // instead of the port switches of the others. "basic" has neither marked pulses nor a frequency output.
    QString profile = QStringLiteral("full");
    uint32_t seed = 1;
    // Time advances only through AdvanceTime(); no thread of its own. Tests use this.
    bool virtualClock = false;
    // TCP sessions greet with "#..." lines and "login:" and ask for /par/net/passwd.
    bool tcpLogin = false;
    // The antenna site the sky and position model works from.
    double latitudeDeg = 50.0870;
    double longitudeDeg = 14.4210;
    double heightM = 245.0;
    // The position messages report the site itself, without noise (a surveyed base, or a test that needs exact
    // coordinates).
    bool exactPosition = false;
    // The geoid's height above the ellipsoid at the site, for NMEA's altitudes above mean sea level: EGM96 at the
    // default site.
    double geoidSeparationM = 45.10;
    // How long a reset or an NVRAM clear keeps the receiver away, in simulated milliseconds.
    int rebootMs = 3000;
    // UTC of the receiver's clock at start, in ms since 1970; -1: a fixed date (2024-06-01 12:00) with the
    // virtual clock, the current time otherwise.
    int64_t startUtcMs = -1;
    // Log files the receiver's memory holds at start ("LOG0001", ...; a few hundred kilobytes each).
    int sampleFiles = 0;
    // How this receiver reports raw data, and the cycle slips its carrier phases show.
    RawDataProfile raw;
    std::vector<CycleSlip> slips;
    // Epochs a second for messages asked for once a second (0: as asked). Every message period is divided by it,
    // so a program that asks for 1 s output sees a receiver updating at this rate (live view benchmarks).
    int epochRateHz = 0;
};

// A simulated receiver: command language, parameter tree, ports, message output, receiver memory.
// Thread-safe: every public call takes the receiver's lock. Output reaches the sinks of its sessions, which are
// called with that lock held: a sink must not call back into the receiver, and once a session object is
// destroyed (on any thread) its sink is never called again.
//
// "print" of a directory answers the braced list of its children's values in table order, nested for
// subdirectories ("print,/par/time/utc/" -> "{2024-06-01,12:00:00.000}"); "list" answers the children's names.
class CSimReceiver : public IInProcessDevice
{
public:
    // An unknown profile leaves the receiver unusable: CreationError() says why and sessions are refused.
    explicit CSimReceiver(const SimOptions& options = {});
    // Null with `error` set when the options are not usable (an unknown profile).
    static std::shared_ptr<CSimReceiver> Create(const SimOptions& options, QString* error);
    ~CSimReceiver() override;
    CSimReceiver(const CSimReceiver&) = delete;
    CSimReceiver& operator=(const CSimReceiver&) = delete;

    // A session on the first free serial port ("/dev/ser/a", then b, c, d).
    std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString* error) override;
    // A session on a named port ("/dev/ser/b", "/dev/tcp/a", ...).
    std::unique_ptr<IDeviceSession> OpenSessionOn(const QString& port, Sink sink, QString* error);
    // The first free port of a kind: "ser" or "tcp"; empty when all are taken.
    QString FreePort(const QString& kind) const;

    // Time: milliseconds since the receiver started. A real-time receiver ticks on a thread of its own.
    int64_t NowMs() const;
    void AdvanceTime(int64_t ms);  // virtual clock only

    // Inspection and fault injection for tests.
    QString Param(const QString& path) const;  // the value as "print" would answer it; empty if unknown
    bool SetParamValue(const QString& path, const QString& value);
    // "set" or "init" of this path answers ER; of a message ("/msg/kvs/E5"), "em" of it; of a port
    // ("/dev/ser/b"), its "em" and "dm".
    void RefuseParam(const QString& path, bool refuse = true);
    void HideParam(const QString& path, bool hide = true);      // "print", "list" and "set" of it answer ER
    void WithholdReplies(bool withhold);                        // commands run, replies are not sent
    void SetReplyDelayMs(int ms);                               // simulated ms before a reply goes out
    void CorruptOutput(bool corrupt);                           // flips a byte in every message frame
    void RefuseEvents(bool refuse);                             // "event" answers ER
    void WithholdEpochEnds(bool withhold);                      // messages go out, their "||" does not
    // A valid "set" of this path is acknowledged and changes nothing, as a receiver does for a parameter its
    // present state fixes (a reference position while it sends corrections).
    void KeepParam(const QString& path, bool keep = true);
    // The next `count` frames of message `id` ("SI", "PG", "GS", ...; "RT" and "EE" as named in sets) carry
    // the fault; SiLonger and SiShorter apply to "SI".
    void InjectFault(SimFault fault, const QString& id, int count = 1);
    // An event input ('A' or 'B') fires now; XA or XB reports it at its next output.
    void InjectEvent(char input);
    // The receiver's time jumps by `ms` (back when negative) from the next epoch on.
    void InjectTimeJump(int64_t ms);
    // No message goes out for the next `ms`; the receiver's time runs on.
    void InjectOutputGap(int64_t ms);
    void DropSessions(const QString& why);  // every open session is dropped
    QStringList ReceivedCommands() const;   // the newest statements received, in order
    void ClearReceivedCommands();

    // Receiver memory. Times count seconds since 1988-01-01 00:00 UTC.
    void AddFile(const QString& name, const QByteArray& content, int64_t time = 1000000000);
    void AppendToFile(const QString& name, const QByteArray& bytes);
    bool DeleteFile(const QString& name);
    QByteArray FileContent(const QString& name) const;
    QStringList FileNames() const;
    QString CurrentLogFile() const;
    void InjectTransferFault(SimTransferFault fault, int atBlock);
    // The listing's fault, and how many files more (or fewer) "print,/par/dev/blk/a/files" reports.
    void SetListingFault(SimListingFault fault, int countDelta = 0);
    // {total,done} answers of "print,stat/fsinit" after an "init,/dev/blk/a", one per query, the last kept. A
    // negative total answers "busy" instead (a firmware that reports its progress in another form).
    void SetFsinitSteps(const std::vector<std::pair<int64_t, int64_t>>& steps);
    void SetRwStatistics(bool present);

    const SimOptions& Options() const;
    QString CreationError() const;

    // What tests look at.
    QStringList EnabledMessages(const QString& port) const;  // "/msg/kvs/~~:1000" (path:period ms), sorted
    int SessionCount() const;
    bool IsAway() const;         // restarting after a reset or an NVRAM clear
    bool AlmanacValid() const;   // false after an NVRAM clear
    QStringList Events() const;  // texts of "event" commands

private:
    std::unique_ptr<SimState> m_state;
};
