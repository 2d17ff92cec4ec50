#include "rinex/KvsReader.h"

#include "link/Checksum.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int64_t kHalfDayMs = kDayMs / 2;

bool IsIdChar(char c)
{
    return c >= 0x30 && c <= 0x7E;
}

// Text frames without a checksum byte of their own.
bool IsTextId(const char* id)
{
    static const char* const kText[] = {"RE", "ER", "KV", "MF", "MS", "PM", "GS", "NS"};
    for (const char* t : kText) {
        if (id[0] == t[0] && id[1] == t[1]) {
            return true;
        }
    }
    return false;
}

template <typename T>
T Get(const char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);  // the receiver's byte order is little-endian, as this host's
    return v;
}

struct Frame
{
    char id[2];
    QByteArray body;  // without the checksum byte for binary messages
};

struct SiEntry
{
    int index = 0;
};

// One epoch while its messages arrive.
struct Pending
{
    bool open = false;
    bool tainted = false;
    int64_t todMs = 0;
    std::optional<QDate> date;
    int scale = -1;
    std::map<QByteArray, QByteArray> messages;  // per-satellite messages of this epoch, by id

    // Only a time (and date): a recording's file header repeats the last ones before its first epoch. Nothing of
    // it is lost when no end follows.
    bool Bare() const { return !tainted && messages.empty(); }
};

class CParser
{
public:
    explicit CParser(KvsResult* r) : m_r(*r) {}

    void Run(const QByteArray& data)
    {
        const char* p = data.constData();
        const qsizetype n = data.size();
        qsizetype i = 0;
        bool inGarbage = false;
        auto garbage = [&] {
            if (!inGarbage) {
                ++m_r.skipped;
                TaintEpoch();
                inGarbage = true;
            }
            ++i;
        };
        while (i < n) {
            const char c = p[i];
            if (c == '\r' || c == '\n') {
                ++i;
                continue;
            }
            if (c >= 0x21 && c <= 0x2F) {
                // A text line between frames (NMEA, greeting): to its end.
                qsizetype j = i;
                while (j < n && p[j] != '\r' && p[j] != '\n') {
                    ++j;
                }
                i = j;
                continue;
            }
            if (n - i < 5 || !IsIdChar(p[i]) || !IsIdChar(p[i + 1])) {
                garbage();
                continue;
            }
            int len = 0;
            bool ok = true;
            for (int k = 2; k < 5; ++k) {
                const int d = HexDigitValue(p[i + k]);
                ok = ok && d >= 0;
                len = len * 16 + std::max(d, 0);
            }
            if (!ok) {
                garbage();
                continue;
            }
            if (n - i - 5 < len) {
                // Cut off by the end of the file.
                ++m_r.skipped;
                TaintEpoch();
                break;
            }
            Frame f;
            f.id[0] = p[i];
            f.id[1] = p[i + 1];
            const bool text = IsTextId(f.id);
            if (!text) {
                if (len < 1 || uint8_t(p[i + 5 + len - 1]) != Checksum8(p + i, size_t(5 + len - 1))) {
                    // A lost satellite list may have changed: nothing is trusted until the next one arrives.
                    if ((p[i] == 'S' && p[i + 1] == 'I') || (p[i] == 'N' && p[i + 1] == 'N')) {
                        m_siTrusted = false;
                    }
                    // Resynchronise one byte on: a wrong length must not swallow the frames after it.
                    garbage();
                    continue;
                }
                f.body = QByteArray(p + i + 5, len - 1);
            } else {
                f.body = QByteArray(p + i + 5, len);
                if (f.id[0] == 'K' && f.id[1] == 'V' && f.body.startsWith("RLOGF")) {
                    m_r.isKvs = true;
                }
            }
            inGarbage = false;
            i += 5 + len;
            if (!text) {
                m_r.isKvs = true;
                Take(f);
            }
        }
        if (m_epoch.open && !m_epoch.Bare()) {
            ++m_r.skipped;  // the last epoch never ended
        }
        if (m_sawEpoch && !m_sawDate) {
            m_r.badTime = true;
        }
        std::stable_sort(m_r.epochs.begin(), m_r.epochs.end(),
                         [](const KvsEpoch& a, const KvsEpoch& b) { return a.gpsTime < b.gpsTime; });
        auto dup = std::unique(m_r.epochs.begin(), m_r.epochs.end(),
                               [](const KvsEpoch& a, const KvsEpoch& b) { return a.gpsTime == b.gpsTime; });
        m_r.skipped += int(std::distance(dup, m_r.epochs.end()));
        m_r.epochs.erase(dup, m_r.epochs.end());
    }

private:
    void TaintEpoch()
    {
        if (m_epoch.open) {
            m_epoch.tainted = true;
        }
    }

    void Take(const Frame& f)
    {
        const QByteArray id(f.id, 2);
        const QByteArray& b = f.body;
        if (id == "~~") {
            if (b.size() < 4) {
                return Corrupt();
            }
            if (m_epoch.open && !m_epoch.Bare()) {
                ++m_r.skipped;  // an epoch without its end
            }
            m_epoch = Pending{};
            m_epoch.open = true;
            m_epoch.todMs = Get<uint32_t>(b.constData());
            m_sawEpoch = true;
            return;
        }
        if (id == "||" || id == "::") {
            if (m_epoch.open) {
                Finish();
            }
            return;
        }
        if (id == "RD") {
            if (b.size() < 5) {
                return Corrupt();
            }
            const QDate d(Get<uint16_t>(b.constData()), uint8_t(b[2]), uint8_t(b[3]));
            // GNSS time begins in 1980, and RINEX writes a year in four columns.
            if (!d.isValid() || d.year() < 1980 || d.year() > 9999) {
                return Corrupt();
            }
            m_epoch.date = d;
            m_epoch.scale = uint8_t(b[4]);
            return;
        }
        if (id == "SI") {
            m_si.clear();
            for (char c : b) {
                m_si.push_back(uint8_t(c));
            }
            m_nn.clear();
            m_siTrusted = true;
            return;
        }
        if (id == "NN") {
            m_nn.clear();
            for (char c : b) {
                m_nn.push_back(uint8_t(c));
            }
            return;
        }
        if (id == "PO" && b.size() >= 24 && !m_havePos) {
            m_r.x = Get<double>(b.constData());
            m_r.y = Get<double>(b.constData() + 8);
            m_r.z = Get<double>(b.constData() + 16);
            m_havePos = m_r.x == m_r.x && (m_r.x != 0 || m_r.y != 0 || m_r.z != 0);
            return;
        }
        // Ephemerides: keyed by satellite and reference time (toe; day and tb), the first copy kept.
        if (id == "GE" && b.size() >= 122) {
            m_r.gpsEphemerides.try_emplace({uint8_t(b[0]), Get<uint32_t>(b.constData() + 32)}, b);
            return;
        }
        if (id == "NE" && b.size() >= 87) {
            const uint32_t when =
                uint32_t(Get<uint16_t>(b.constData() + 2)) * 86400u + Get<uint32_t>(b.constData() + 8);
            m_r.glonassEphemerides.try_emplace({uint8_t(b[0]), when}, b);
            return;
        }
        static const char* const kPerSat[] = {"DC", "EC", "E1", "E2", "FC", "F1", "F2",
                                              "RC", "R1", "R2", "PC", "P1", "P2"};
        for (const char* k : kPerSat) {
            if (id == k) {
                if (m_epoch.open) {
                    m_epoch.messages[id] = b;
                }
                return;
            }
        }
    }

    void Corrupt()
    {
        ++m_r.skipped;
        TaintEpoch();
    }

    // Per-satellite element width of a message.
    static int Width(const QByteArray& id)
    {
        switch (id[0]) {
            case 'D':
                return 4;
            case 'E':
                return 1;
            case 'F':
                return 2;
            default:
                return 8;
        }
    }

    // The epoch's messages, found once for all its satellites.
    struct Body
    {
        char id[2];
        const char* data;
        size_t width;
    };

    void Finish()
    {
        Pending e = std::move(m_epoch);
        m_epoch = Pending{};
        if (e.tainted || !m_siTrusted) {
            ++m_r.skipped;
            return;
        }
        QDateTime t;
        if (!EpochTime(e, &t)) {
            return;
        }
        const size_t n = m_si.size();
        for (const auto& [id, body] : e.messages) {
            if (size_t(body.size()) != n * size_t(Width(id))) {
                ++m_r.skipped;  // does not fit the satellite list: its values belong to no one
                return;
            }
        }
        KvsEpoch out;
        out.gpsTime = t;
        out.sats.reserve(n);
        std::vector<Body> bodies;
        bodies.reserve(e.messages.size());
        for (const auto& [id, body] : e.messages) {
            bodies.push_back({{id[0], id[1]}, body.constData(), size_t(Width(id))});
        }
        size_t glonass = 0;
        for (size_t s = 0; s < n; ++s) {
            KvsSatellite sat;
            if (Identify(m_si[s], glonass, sat) && ReadValues(bodies, s, sat)) {
                out.sats.push_back(sat);
            }
        }
        if (out.sats.empty()) {
            return;  // a receiver that tracks nothing yet, or outputs no raw data: nothing to write, nothing wrong
        }
        m_r.epochs.push_back(std::move(out));
    }

    // The epoch's GPS time from its time of day, the last date and the time scale; false when the epoch is dropped
    // (and counted).
    bool EpochTime(const Pending& e, QDateTime* gpsTime)
    {
        if (e.date) {
            m_date = e.date;
            m_scale = e.scale;
            m_sawDate = true;
        }
        if (!m_date) {
            ++m_r.skipped;  // no date yet: the time cannot be known
            return false;
        }
        const int64_t tod = e.todMs;
        if (tod >= kDayMs) {
            Corrupt();
            return false;
        }
        QDateTime t(*m_date, QTime(0, 0), QTimeZone::utc());
        t = t.addMSecs(tod);
        // The date message of a new day may come after the first epoch time of that day.
        if (m_last.isValid() && t.msecsTo(m_last) > kHalfDayMs) {
            t = t.addDays(1);
        }
        const QDateTime scaleTime = t;
        switch (m_scale) {
            case 0:
                break;
            case 2:
            case 3:
            case 1: {
                if (m_scale == 2) {
                    t = t.addSecs(-3 * 3600);  // GLONASS time is UTC(SU) + 3 h
                }
                const int leap = CKvsReader::LeapSeconds(t.date());
                if (leap < 0) {
                    m_r.badTime = true;
                    ++m_r.skipped;
                    return false;
                }
                t = t.addSecs(leap);
                break;
            }
            default:
                m_r.badTime = true;
                ++m_r.skipped;
                return false;
        }
        m_last = scaleTime;
        *gpsTime = t;
        return true;
    }

    // The system and number of the satellite at an SI index; false for one that cannot be named (yet).
    bool Identify(int idx, size_t& glonass, KvsSatellite& sat)
    {
        if (idx >= 1 && idx <= 37) {
            sat.prn = idx;
        } else if (idx >= 38 && idx <= 70) {
            sat.system = KvsSystem::Glonass;
            const size_t g = glonass++;
            const int slot = g < m_nn.size() ? m_nn[g] : 255;
            sat.prn = slot;
            if (slot < 1 || slot > 99) {
                return false;  // 255: slot not known yet
            }
            if (idx == 70) {
                auto it = m_channels.find(slot);
                sat.channelKnown = it != m_channels.end();
                sat.channel = sat.channelKnown ? it->second : 0;
            } else {
                sat.channel = idx - 45;
                m_channels[slot] = sat.channel;
            }
        } else if (idx >= 71 && idx <= 119) {
            sat.system = KvsSystem::Galileo;
            sat.prn = idx - 70;
        } else if (idx >= 120 && idx <= 142) {
            sat.system = KvsSystem::Sbas;
            sat.prn = idx - 100;
        } else if (idx >= 193 && idx <= 197) {
            sat.system = KvsSystem::Qzss;
            sat.prn = idx - 192;
        } else {
            ++m_r.skipped;
            return false;
        }
        return true;
    }

    // The satellite's values at position s of each message; false when it has neither range, phase nor Doppler.
    static bool ReadValues(const std::vector<Body>& bodies, size_t s, KvsSatellite& sat)
    {
        auto at = [&](const char* id) -> const char* {
            for (const Body& b : bodies) {
                if (b.id[0] == id[0] && b.id[1] == id[1]) {
                    return b.data + s * b.width;
                }
            }
            return nullptr;
        };
        if (const char* p = at("DC"); p && Get<int32_t>(p) != 0x7FFFFFFF) {
            sat.doppler = Get<int32_t>(p) * 1e-4;
        }
        static const char* const kCn0[] = {"EC", "E1", "E2"};
        static const char* const kFlags[] = {"FC", "F1", "F2"};
        static const char* const kRange[] = {"RC", "R1", "R2"};
        static const char* const kPhase[] = {"PC", "P1", "P2"};
        bool any = false;
        for (size_t k = 0; k < size_t(Kvs::kRawSignals); ++k) {
            KvsSignal& sg = sat.signal[k];
            if (const char* p = at(kCn0[k]); p && uint8_t(*p) != 255) {
                sg.cn0 = uint8_t(*p);
            }
            if (const char* p = at(kFlags[k])) {
                sg.lockFlags = Get<uint16_t>(p);
            }
            if (const char* p = at(kRange[k])) {
                const double v = Get<double>(p);
                if (std::isfinite(v) && v > 0) {
                    sg.pseudorange = v;
                }
            }
            if (const char* p = at(kPhase[k])) {
                const double v = Get<double>(p);
                if (std::isfinite(v) && v != 0) {
                    sg.phase = v;
                }
            }
            any = any || sg.pseudorange == sg.pseudorange || sg.phase == sg.phase;
        }
        return any || sat.doppler == sat.doppler;
    }

    KvsResult& m_r;
    Pending m_epoch;
    std::vector<int> m_si;
    std::vector<int> m_nn;
    bool m_siTrusted = true;
    std::map<int, int> m_channels;  // GLONASS slot -> frequency number, as last reported
    std::optional<QDate> m_date;
    int m_scale = 0;
    bool m_sawDate = false;
    bool m_sawEpoch = false;
    bool m_havePos = false;
    QDateTime m_last;
};

}  // namespace

int CKvsReader::LeapSeconds(const QDate& utc)
{
    static const struct
    {
        int y, m, d, leap;
    } kTable[] = {{2017, 1, 1, 18}, {2015, 7, 1, 17}, {2012, 7, 1, 16},
                  {2009, 1, 1, 15}, {2006, 1, 1, 14}, {1999, 1, 1, 13}};
    for (const auto& e : kTable) {
        if (utc >= QDate(e.y, e.m, e.d)) {
            return e.leap;
        }
    }
    return -1;
}

KvsResult CKvsReader::Read(const QByteArray& data)
{
    KvsResult r;
    CParser(&r).Run(data);
    return r;
}
