#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

class QObject;
class ITickSource;

// The sky plot's satellite table: GPS numbers 1-37 in slots 0-36, GLONASS slots 1-24 in slots 37-60.
namespace satslot {
constexpr int kGps = 37;
constexpr int kGlonass = 24;
constexpr int kCount = kGps + kGlonass;
constexpr int kSignals = 5;  // ca, p1, p2, then L2C and L5 (GPS) or ca2 and l3 (GLONASS)

// The slot of a GPS number or a GLONASS slot number, -1 when the number is outside its system's range.
int ForGps(int prn);
int ForGlonass(int number);
bool IsGlonass(int slot);
// The GPS number or GLONASS slot number a slot holds.
int Number(int slot);
// "G5", "R12".
QString Label(int slot);
}  // namespace satslot

struct SatEntry
{
    int frequency = 0;  // GLONASS frequency number
    int elevation = 0;  // degrees, -90..90
    int azimuth = 0;    // degrees, 0..360
    std::array<int, satslot::kSignals> cn0{};
    int status = 0;
    bool visible = false;

    // Plotted and given a bar: above the horizon with a C/A reading.
    bool Shown() const { return visible && elevation > 0 && cn0[0] != 0; }
};

enum class SatParse {
    Gps,       // a GPS satellite-status text: the GPS slots were replaced
    Glonass,   // the same for GLONASS
    Ignored,   // another message, or a text of another kind
    BadFrame,  // length digits or "@HH" checksum wrong: nothing changed
};

struct CSatTable
{
    std::array<SatEntry, satslot::kCount> entries{};

    // Reads one raw message (two identifier characters, three hex length digits, the text with its "@HH"
    // checksum). A GPS or GLONASS status text replaces that system's visible set; each entry is checked on its
    // own, and one that is malformed or out of range is skipped without touching the table.
    SatParse Apply(const char* data, int size);
};

// The colour walk of the 61 slots: GPS in blue steps over five green levels, GLONASS in red over three.
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
