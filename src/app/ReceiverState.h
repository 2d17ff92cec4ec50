#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

// The satellite lists of the main view, in tab order.
enum SatList { kListGps = 0, kListGlonass = 1, kListGalileo = 2, kListSbas = 3, kListCount = 4 };

// Columns of the GPS, GALILEO and SBAS lists; the GLONASS list has "Sn" in front, so each of its columns is
// one further right.
enum SatColumn {
    kColNumber = 0,
    kColEl = 1,
    kColAz = 2,
    kColCa = 3,
    kColP1 = 4,
    kColP2 = 5,
    kColL2 = 6,
    kColL5 = 7,
    kColTc = 8,
    kColSs = 9,
};

int SatColumnCount(int list);
// The column of `column` in `list` (GLONASS shifted by one).
int SatColumnIndex(int list, SatColumn column);
QStringList SatColumnTitles(int list);
// Columns present but hidden (width 0).
std::vector<int> SatHiddenColumns(int list);
// Columns compared as integers when sorting.
bool SatColumnIsNumeric(int list, int column);

// Degrees, minutes and seconds of |value| with the given decimals of seconds, leading zeros on minutes and
// seconds below ten, e.g. 50°05'02.1234 for "%d°%s%d'%s%.4f". Seconds that round up to 60 carry into minutes.
struct DegreeParts
{
    int degrees = 0;
    int minutes = 0;
    double seconds = 0;
    QString minutePad;  // "0" before minutes below 10
    QString secondPad;  // "0" before seconds below 10
};
DegreeParts SplitDegrees(double valueDeg, int secondDecimals);

// Everything the main view shows, as texts (StatusSnapshot). The connection thread builds it; the GUI thread
// shows it. Here its texts, without the satellite lists.
struct StatusTexts
{
    // "Location" page
    QString targetLat;
    QString targetLon;
    QString target;  // east, north, distance, course block
    QString position;
    QString cartesian;
    QString velocity;
    QString rmsPos;
    QString rmsVel;
    QString pdop;
    QString hdop;
    QString time;
    QString date;
    QString clockOffset;
    QString oscOffset;
    QString trackingTime;
    // below the pages
    QString summary;
    QString solution;
    QString linkQuality;
    QString eventA;
    QString eventB;
    // The first body bytes of the last "PG" (empty before one and after a reset), for the target dialog.
    QByteArray lastPg;
};

struct StatusSnapshot : StatusTexts
{
    std::array<std::vector<QStringList>, kListCount> lists;
};

// The receiver state of the document: decodes the messages of the main view's table into texts.
// Not thread-safe; one connection thread owns it.
class CReceiverState
{
public:
    static constexpr double kRadToDeg = 57.29577951308232;
    static constexpr double kEarthRadius = 6371000.0;
    static constexpr int kPgKeep = 30;

    CReceiverState();

    // Decodes one raw message (identifier, three length characters, body). Unknown or malformed messages
    // change nothing.
    void Decode(const QByteArray& message);

    // Status reset: lists emptied, labels restored, fields cleared, almanac flags and event counters zeroed.
    void Reset();

    // The target position in radians; with no-data set, the next position refreshes the target fields.
    void SetTarget(double latRad, double lonRad);
    void SetNoData(bool noData) { m_noData = noData; }
    bool NoData() const { return m_noData; }

    const StatusSnapshot& Snapshot() const { return m_snapshot; }
    // The first 30 body bytes of the last "PG", empty before one arrived.
    const QByteArray& LastPg() const { return m_lastPg; }
    double Drift() const { return m_drift; }
    bool GpsAlmanac(int prn) const { return prn >= 1 && prn <= 37 && m_gpsAlmanac[size_t(prn - 1)]; }
    bool GlonassAlmanac(int slot) const { return slot >= 1 && slot <= 24 && m_gloAlmanac[size_t(slot - 1)]; }

    // Stream checksum of a text message such as "MS020,...,@1F" (the last two characters, hex).
    static bool TextChecksumOk(const QByteArray& message);

private:
    void OnPg(const QByteArray& body);
    void OnPo(const QByteArray& body);
    // The X/Y/Z label; non-finite coordinates leave it as it was.
    void SetCartesian(double x, double y, double z);
    void OnVe(const QByteArray& body);
    void OnPv(const QByteArray& body);
    void OnDp(const QByteArray& body);
    void OnSg(const QByteArray& body);
    void OnTime(const QByteArray& body);
    void OnDate(const QByteArray& body);
    void OnTrackingTime(const QByteArray& body);
    void OnEvent(bool b);
    void OnAlmanac(bool glonass, const QByteArray& body);
    void OnOscillator(const QByteArray& body);
    void OnDrift(const QByteArray& body);
    void OnMs(const QByteArray& message);
    void OnSi(const QByteArray& body);
    // Per-satellite messages: value i belongs to satellite i of the last "SI".
    void OnSatValues(uint16_t id, const QByteArray& body);
    void OnSlots(const QByteArray& body);
    void UpdateSummary();

    struct SatRef
    {
        int list = -1;  // -1: not shown
        int row = 0;
        int number = 0;
    };

    StatusSnapshot m_snapshot;
    std::vector<SatRef> m_sats;  // the last "SI"
    // The satellite number each shown row holds, so that a row taken over by another satellite starts empty.
    std::array<std::vector<int>, kListCount> m_rowSats;
    QByteArray m_lastSi;         // kept: a receiver may send "SI" only when the satellites change
    QByteArray m_lastPg;
    std::array<bool, 37> m_gpsAlmanac{};
    std::array<bool, 24> m_gloAlmanac{};
    int m_eventsA = 0;
    int m_eventsB = 0;
    double m_drift = 0;
    double m_targetLat = 0;
    double m_targetLon = 0;
    bool m_noData = true;
};

// Crosses from the connection thread to the GUI thread in a queued signal.
Q_DECLARE_METATYPE(StatusSnapshot)
