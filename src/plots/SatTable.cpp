#include "plots/SatTable.h"

#include "link/Checksum.h"
#include "ui/TimeServices.h"

#include <QMetaObject>
#include <QObject>

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

bool IsGlonass(int slot)
{
    return slot >= kGps && slot < kCount;
}

int Number(int slot)
{
    return IsGlonass(slot) ? slot - kGps + 1 : slot + 1;
}

QString Label(int slot)
{
    return QString::asprintf(IsGlonass(slot) ? "R%d" : "G%d", Number(slot));
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
    // Readings of 1, below zero or from 61 on stand for an absent signal.
    for (int i = 0; i < 3; ++i) {
        int& v = e.cn0[size_t(i)];
        if (v == 1 || v < 0 || v >= 61) {
            v = 0;
        }
    }
    e.visible = true;
    *slot = s;
    *entry = e;
    return true;
}

}  // namespace

SatParse CSatTable::Apply(const char* data, int size)
{
    if (!data || size < 5) {
        return SatParse::Ignored;
    }
    const bool gps = data[0] == 'G' && data[1] == 'S';
    const bool glonass = data[0] == 'N' && data[1] == 'S';
    if (!gps && !glonass) {
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
    if (length < 3 || size - 5 < length) {
        return SatParse::BadFrame;
    }
    const int total = 5 + length;
    const int hi = HexDigitValue(data[total - 2]);
    const int lo = HexDigitValue(data[total - 1]);
    if (data[total - 3] != '@' || hi < 0 || lo < 0 || Checksum8(data, size_t(total - 2)) != hi * 16 + lo) {
        return SatParse::BadFrame;
    }

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
    const auto walk = [&colours](int first, int count, const std::vector<int>& greens, bool red) {
        int level = 127;
        size_t green = 0;
        for (int k = 0; k < count; ++k) {
            colours[size_t(first + k)] = red ? QColor(level, greens[green], 0) : QColor(0, greens[green], level);
            level += 16;
            if (level > 255) {
                level = 127;
                green = (green + 1) % greens.size();
            }
        }
    };
    walk(0, satslot::kGps, {0, 127, 159, 191, 223}, false);
    walk(satslot::kGps, satslot::kGlonass, {0, 127, 191}, true);
    return colours;
}

QString SatPopupText(int slot, const SatEntry& e)
{
    if (satslot::IsGlonass(slot)) {
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
