#include "plots/SatTable.h"

#include "link/Checksum.h"
#include "link/Framer.h"
#include "link/GpsData.h"
#include "link/SatValues.h"
#include "ui/TimeServices.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

namespace satslot {

int ForGps(int prn)
{
    return prn >= 1 && prn <= kGps ? prn - 1 : -1;
}

int ForGlonass(int number)
{
    return number >= 1 && number <= kGlonass ? number + kGps - 1 : -1;
}

int ForGalileo(int prn)
{
    return prn >= 1 && prn <= kGalileo ? kFirstGalileo + prn - 1 : -1;
}

int ForSbas(int prn)
{
    return prn >= kFirstSbasPrn && prn < kFirstSbasPrn + kSbas ? kFirstSbas + prn - kFirstSbasPrn : -1;
}

int ForIndex(int index)
{
    // Galileo satellites are listed as 70 + PRN, SBAS ones by their PRN.
    return index > 70 && index < kFirstSbasPrn ? ForGalileo(index - 70) : ForSbas(index);
}

System SystemOf(int slot)
{
    return slot < kGps            ? System::Gps
           : slot < kFirstGalileo ? System::Glonass
           : slot < kFirstSbas    ? System::Galileo
                                  : System::Sbas;
}

bool IsGlonass(int slot)
{
    return SystemOf(slot) == System::Glonass;
}

int Number(int slot)
{
    switch (SystemOf(slot)) {
        case System::Gps:
            return slot + 1;
        case System::Glonass:
            return slot - kGps + 1;
        case System::Galileo:
            return slot - kFirstGalileo + 1;
        case System::Sbas:
            break;
    }
    return slot - kFirstSbas + kFirstSbasPrn;
}

QString Label(int slot)
{
    static const char* const kPrefix[] = {"G%d", "R%d", "E%d", "S%d"};
    return QString::asprintf(kPrefix[int(SystemOf(slot))], Number(slot));
}

}  // namespace satslot

namespace {

// A whole decimal integer of at most six digits with an optional minus sign: no blanks, no plus, no hex.
bool ToInt(std::string_view s, int* out)
{
    bool negative = false;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 6) {
        return false;
    }
    int value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    *out = negative ? -value : value;
    return true;
}

bool ToInts(std::string_view s, std::vector<int>* out)
{
    out->clear();
    while (true) {
        const size_t comma = s.find(',');
        int v = 0;
        if (!ToInt(s.substr(0, comma), &v)) {
            return false;
        }
        out->push_back(v);
        if (comma == std::string_view::npos) {
            return true;
        }
        s.remove_prefix(comma + 1);
    }
}

// Readings of 1, below zero or from 61 on stand for an absent signal.
bool IsReading(int cn0)
{
    return cn0 > 1 && cn0 < 61;
}

void ApplyStatusRule(SatEntry& e)
{
    for (int i = 0; i < 3; ++i) {
        int& v = e.cn0[size_t(i)];
        v = IsReading(v) ? v : 0;
    }
}

// One entry without its outer braces: "prn,el,az,{ca,p1,p2,l2c,l5},status", GLONASS with the frequency number
// after the slot number.
bool ParseEntry(std::string_view body, bool glonass, int* slot, SatEntry* entry)
{
    const size_t open = body.find('{');
    const size_t close = body.find('}');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
        body.find_first_of("{}", open + 1) != close || body.find_first_of("{}", close + 1) != std::string_view::npos) {
        return false;
    }
    const std::string_view head = body.substr(0, open);
    const std::string_view tail = body.substr(close + 1);
    if (head.empty() || head.back() != ',' || tail.size() < 2 || tail.front() != ',') {
        return false;
    }
    std::vector<int> fields;
    std::vector<int> levels;
    int status = 0;
    if (!ToInts(head.substr(0, head.size() - 1), &fields) || fields.size() != (glonass ? 4u : 3u) ||
        !ToInts(body.substr(open + 1, close - open - 1), &levels) || levels.size() > size_t(satslot::kSignals) ||
        !ToInt(tail.substr(1), &status)) {
        return false;
    }
    const int s = glonass ? satslot::ForGlonass(fields[0]) : satslot::ForGps(fields[0]);
    const int el = fields[fields.size() - 2];
    const int az = fields[fields.size() - 1];
    if (s < 0 || el < -90 || el > 90 || az < 0 || az > 360) {
        return false;
    }
    SatEntry e;
    e.frequency = glonass ? fields[1] : 0;
    e.elevation = el;
    e.azimuth = az;
    for (size_t i = 0; i < levels.size(); ++i) {
        e.cn0[i] = levels[i];
    }
    e.status = status;
    ApplyStatusRule(e);
    e.visible = true;
    *slot = s;
    *entry = e;
    return true;
}

}  // namespace

bool SatEntry::Used() const
{
    return satvalues::IsUsed(status);
}

int SatEntry::Level(int signal) const
{
    const int v = signal >= 0 && signal < satslot::kSignals ? cn0[size_t(signal)] : 0;
    return IsReading(v) ? v : 0;
}

SatParse CSatTable::Apply(const char* data, int size)
{
    if (!data || size < 5) {
        return SatParse::Ignored;
    }
    const uint16_t id = MsgId(data[0], data[1]);
    const bool text = id == MsgId('G', 'S') || id == MsgId('N', 'S');
    if (!text && id != MsgId('S', 'I') && satvalues::Width(id) == 0) {
        return SatParse::Ignored;
    }
    int length = 0;
    for (int i = 2; i < 5; ++i) {
        const int d = HexDigitValue(data[i]);
        if (d < 0) {
            return SatParse::BadFrame;
        }
        length = length * 16 + d;
    }
    if (length < (text ? 3 : 1) || size - 5 < length) {
        return SatParse::BadFrame;
    }
    if (!CFramer::VerifyFrame(data, 5 + length)) {
        return SatParse::BadFrame;
    }
    if (text) {
        return ApplyText(data, length, id == MsgId('N', 'S'));
    }
    return id == MsgId('S', 'I') ? ApplyIndices(data + 5, length) : ApplyValues(id, data + 5, length);
}

SatParse CSatTable::ApplyIndices(const char* body, int length)
{
    indices.assign(body, body + length - 1);
    std::array<bool, satslot::kCount> listed{};
    for (uint8_t index : indices) {
        const int slot = satslot::ForIndex(index);
        if (slot >= 0) {
            listed[size_t(slot)] = true;
        }
    }
    for (int slot = satslot::kFirstGalileo; slot < satslot::kCount; ++slot) {
        SatEntry& e = entries[size_t(slot)];
        // A satellite that comes back starts without the values it had when it left.
        if (!listed[size_t(slot)] || !e.visible) {
            e = SatEntry();
            e.azimuth = -1;
            e.status = -1;
            e.visible = listed[size_t(slot)];
        }
    }
    return SatParse::Indices;
}

SatParse CSatTable::ApplyValues(uint16_t id, const char* body, int length)
{
    const int n = std::min(satvalues::Count(id, length), int(indices.size()));
    for (int i = 0; i < n; ++i) {
        const int slot = satslot::ForIndex(indices[size_t(i)]);
        if (slot < 0) {
            continue;
        }
        SatEntry& e = entries[size_t(slot)];
        const std::optional<int> v = satvalues::Read(id, body, length, i);
        switch (id) {
            case MsgId('E', 'L'):
                if (!v || std::abs(*v) <= 90) {
                    e.elevation = v.value_or(0);
                }
                break;
            case MsgId('A', 'Z'):
                if (!v || *v <= 360) {
                    e.azimuth = v.value_or(-1);
                }
                break;
            case MsgId('S', 'S'):
                e.status = v.value_or(-1);
                break;
            case MsgId('T', 'C'):
            case MsgId('D', 'C'):
                break;
            default: {
                static constexpr uint16_t kCn0[satslot::kSignals] = {MsgId('E', 'C'), MsgId('E', '1'), MsgId('E', '2'),
                                                                     MsgId('E', '3'), MsgId('E', '5')};
                const auto k = std::find(std::begin(kCn0), std::end(kCn0), id) - std::begin(kCn0);
                if (k < satslot::kSignals) {
                    e.cn0[size_t(k)] = v.value_or(0);
                    ApplyStatusRule(e);
                }
                break;
            }
        }
    }
    return SatParse::Values;
}

SatParse CSatTable::ApplyText(const char* data, int length, bool glonass)
{
    std::string_view text(data + 5, size_t(length - 3));
    const std::string_view header = glonass ? ",GLSVST," : ",GPSVST,";
    if (text.substr(0, header.size()) != header) {
        return SatParse::Ignored;
    }
    text.remove_prefix(header.size());
    const size_t comma = text.find(',');
    int count = 0;
    if (comma == std::string_view::npos || !ToInt(text.substr(0, comma), &count) || count < 0) {
        return SatParse::Ignored;
    }
    text.remove_prefix(comma + 1);

    const int first = glonass ? satslot::kGps : 0;
    const int capacity = glonass ? satslot::kGlonass : satslot::kGps;
    for (int i = first; i < first + capacity; ++i) {
        entries[size_t(i)].visible = false;
    }
    for (int i = 0; i < count; ++i) {
        if (text.empty() || text.front() != '{') {
            break;
        }
        size_t end = 0;
        int depth = 0;
        for (size_t k = 0; k < text.size(); ++k) {
            depth += text[k] == '{' ? 1 : text[k] == '}' ? -1 : 0;
            if (depth == 0) {
                end = k;
                break;
            }
        }
        if (end == 0) {
            break;  // the entry never closes: nothing after it can be trusted
        }
        int slot = -1;
        SatEntry entry;
        // Entries beyond the system's number of slots are skipped: a list that long is not a real sky.
        if (i < capacity && ParseEntry(text.substr(1, end - 1), glonass, &slot, &entry)) {
            entries[size_t(slot)] = entry;
        }
        text.remove_prefix(end + 1);
        if (text.empty() || text.front() != ',') {
            break;
        }
        text.remove_prefix(1);
    }
    return glonass ? SatParse::Glonass : SatParse::Gps;
}

std::array<QColor, satslot::kCount> SatColours()
{
    std::array<QColor, satslot::kCount> colours;
    // `make(level, second)` builds a colour from the walking level and the stepped second component.
    const auto walk = [&colours](int first, int count, int start, int last, const std::vector<int>& seconds,
                                 auto make) {
        int level = start;
        size_t second = 0;
        for (int k = 0; k < count; ++k) {
            colours[size_t(first + k)] = make(level, seconds[second]);
            level += 16;
            if (level > last) {
                level = start;
                second = (second + 1) % seconds.size();
            }
        }
    };
    walk(0, satslot::kGps, 127, 255, {0, 127, 159, 191, 223}, [](int b, int g) { return QColor(0, g, b); });
    walk(satslot::kGps, satslot::kGlonass, 127, 255, {0, 127, 191}, [](int r, int g) { return QColor(r, g, 0); });
    // Darker than the GPS and GLONASS walks, so that labels in these colours stay readable on white.
    walk(satslot::kFirstGalileo, satslot::kGalileo, 95, 191, {0, 50, 90}, [](int g, int b) { return QColor(0, g, b); });
    walk(satslot::kFirstSbas, satslot::kSbas, 111, 207, {0, 50, 90}, [](int rb, int g) { return QColor(rb, g, rb); });
    return colours;
}

QString SatPopupText(int slot, const SatEntry& e)
{
    const satslot::System system = satslot::SystemOf(slot);
    if (system == satslot::System::Galileo || system == satslot::System::Sbas) {
        return QString::asprintf("el  az ca l5 ss\n%2d%4d%3d%3d%3d", e.elevation, e.azimuth, e.cn0[0], e.cn0[4],
                                 e.status);
    }
    if (system == satslot::System::Glonass) {
        return QString::asprintf("el  az   ca p1 p2 ca2 l3 ss\n%2d %3d %2d %2d % 2d % 2d % 2d % 2d", e.elevation,
                                 e.azimuth, e.cn0[0], e.cn0[1], e.cn0[2], e.cn0[3], e.cn0[4], e.status);
    }
    return QString::asprintf("el  az   ca p1 p2 l2c l5 ss\n%2d%4d%3d%3d%3d %3d%3d%3d", e.elevation, e.azimuth, e.cn0[0],
                             e.cn0[1], e.cn0[2], e.cn0[3], e.cn0[4], e.status);
}

CSatModel::CSatModel(const ITickSource& tick) : m_tick(tick), m_lastEpochMs(tick.TickMs()) {}

void CSatModel::OnMessage(const char* data, int size)
{
    if (!data || size < 2) {
        return;
    }
    if (data[0] == '|' && data[1] == '|') {
        m_lastEpochMs = m_tick.TickMs();
        std::lock_guard lock(m_mutex);
        if (m_listener) {
            QMetaObject::invokeMethod(m_listener, "Refresh", Qt::QueuedConnection);
        }
        return;
    }
    std::lock_guard lock(m_mutex);
    m_table.Apply(data, size);
}

void CSatModel::SetListener(QObject* listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = listener;
}

CSatTable CSatModel::Table() const
{
    std::lock_guard lock(m_mutex);
    return m_table;
}

void CSatModel::Clear()
{
    std::lock_guard lock(m_mutex);
    m_table = CSatTable();
}
