#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class QObject;
class ITickSource;

// The sky plot's satellite table: GPS numbers 1-37 in slots 0-36, GLONASS slots 1-24 in slots 37-60, then
// Galileo PRNs 1-49 and SBAS PRNs 120-142 (the numbers "SI" can hold for them).
namespace satslot {
constexpr int kGps = 37;
constexpr int kGlonass = 24;
constexpr int kGalileo = 49;
constexpr int kSbas = 23;
constexpr int kFirstGalileo = kGps + kGlonass;
constexpr int kFirstSbas = kFirstGalileo + kGalileo;
constexpr int kCount = kFirstSbas + kSbas;
constexpr int kFirstSbasPrn = 120;
constexpr int kSignals = 5;  // ca, p1, p2, then L2C and L5 (GPS) or ca2 and l3 (GLONASS)

enum class System { Gps, Glonass, Galileo, Sbas };

// The slot of a GPS number, a GLONASS slot number, a Galileo or an SBAS PRN; -1 when the number is outside its
// system's range.
int ForGps(int prn);
int ForGlonass(int number);
int ForGalileo(int prn);
int ForSbas(int prn);
// The slot of a Galileo or SBAS satellite index of "SI"; -1 for every other index (GPS and GLONASS come from
// their status texts).
int ForIndex(int index);
System SystemOf(int slot);
bool IsGlonass(int slot);
// The GPS number, GLONASS slot number or PRN a slot holds.
int Number(int slot);
// "G5", "R12", "E11", "S120".
QString Label(int slot);
}  // namespace satslot

struct SatEntry
{
    int frequency = 0;  // GLONASS frequency number
    int elevation = 0;  // degrees, -90..90
    int azimuth = 0;    // degrees, 0..360; -1 while the receiver does not know it
    std::array<int, satslot::kSignals> cn0{};
    int status = 0;  // -1 until the receiver said
    bool visible = false;

    // Plotted and given a bar: above the horizon with a C/A reading.
    bool Shown() const { return visible && elevation > 0 && azimuth >= 0 && cn0[0] != 0; }
    // Used in the solution, not only tracked.
    bool Used() const;
    // The C/N0 of a signal (0 to 4) as a bar shows it: 0 when the value is no reading (see the status rule).
    int Level(int signal) const;
};

enum class SatParse {
    Gps,       // a GPS satellite-status text: the GPS slots were replaced
    Glonass,   // the same for GLONASS
    Indices,   // "SI": the Galileo and SBAS satellites now tracked
    Values,    // a per-satellite message: values of the Galileo and SBAS satellites of the last "SI"
    Ignored,   // another message, or a text of another kind
    BadFrame,  // length digits or checksum wrong: nothing changed
};

struct CSatTable
{
    std::array<SatEntry, satslot::kCount> entries{};
    std::vector<uint8_t> indices;  // the last "SI"

    // Reads one raw message (two identifier characters, three hex length digits, the body with its checksum).
    // A GPS or GLONASS status text replaces that system's visible set; each entry is checked on its own, and one
    // that is malformed or out of range is skipped without touching the table. "SI" replaces the Galileo and
    // SBAS set; the per-satellite messages fill their values, a value out of its range left as it was.
    SatParse Apply(const char* data, int size);

private:
    SatParse ApplyText(const char* data, int length, bool glonass);
    SatParse ApplyIndices(const char* body, int length);
    SatParse ApplyValues(uint16_t id, const char* body, int length);
};

// The colour walk of the slots: GPS in blue steps over five green levels, GLONASS in red over three, Galileo in
// green over three blue levels, SBAS in purple over three green levels.
std::array<QColor, satslot::kCount> SatColours();

// The tracking values shown when a satellite is tapped.
QString SatPopupText(int slot, const SatEntry& entry);

// The table as the link's thread writes it and the GUI thread reads it, with the time of the last epoch end.
// The link's callback holds a shared reference, so the model outlives a late callback; the window it notifies
// is unhooked (under the lock) before it goes away.
class CSatModel
{
public:
    explicit CSatModel(const ITickSource& tick);

    // Link thread: one message of the attached set. An epoch end notes the time and asks for a repaint.
    void OnMessage(const char* data, int size);
    // The object whose "Refresh" slot is invoked (queued) after an epoch end; null to stop.
    void SetListener(QObject* listener);

    CSatTable Table() const;
    void Clear();
    int64_t LastEpochMs() const { return m_lastEpochMs.load(); }
    void SetLastEpochMs(int64_t ms) { m_lastEpochMs = ms; }

private:
    const ITickSource& m_tick;
    mutable std::mutex m_mutex;  // the table and the listener
    CSatTable m_table;
    QObject* m_listener = nullptr;
    std::atomic<int64_t> m_lastEpochMs{0};
};
