#include "link/Framer.h"

#include "link/Checksum.h"

#include <algorithm>

namespace {

bool IsIdChar(char c)
{
    return c >= 0x30 && c <= 0x7E;
}

bool IsLineStart(char c)
{
    return c >= 0x21 && c <= 0x2F;
}

bool IsLineChar(char c)
{
    return (c >= 0x20 && c <= 0x7E) || c == '\t';
}

}  // namespace

CFramer::CheckKind CFramer::CheckKindOf(char a, char b)
{
    if ((a == 'R' && b == 'E') || (a == 'E' && b == 'R') || (a == 'K' && b == 'V')) {
        return CheckKind::None;
    }
    if (a == 'M' && b == 'F') {
        return CheckKind::TrailingHex;
    }
    if ((a == 'M' && b == 'S') || (a == 'P' && b == 'M') || (a == 'G' && b == 'S') || (a == 'N' && b == 'S')) {
        return CheckKind::TextAt;
    }
    return CheckKind::TrailingByte;
}

bool CFramer::VerifyFrame(const char* frame, int size)
{
    if (size < kHeaderSize) {
        return false;
    }
    switch (CheckKindOf(frame[0], frame[1])) {
    case CheckKind::None:
        return true;
    case CheckKind::TrailingByte:
        return size > kHeaderSize &&
               Checksum8(frame, static_cast<size_t>(size - 1)) == static_cast<uint8_t>(frame[size - 1]);
    case CheckKind::TextAt:
        if (size < kHeaderSize + 3 || frame[size - 3] != '@') {
            return false;
        }
        [[fallthrough]];
    case CheckKind::TrailingHex: {
        if (size < kHeaderSize + 2) {
            return false;
        }
        const int hi = HexDigitValue(frame[size - 2]);
        const int lo = HexDigitValue(frame[size - 1]);
        return hi >= 0 && lo >= 0 && Checksum8(frame, static_cast<size_t>(size - 2)) == hi * 16 + lo;
    }
    }
    return false;
}

namespace {

uint8_t Rotl(uint8_t v, unsigned n)
{
    n &= 7;
    return n == 0 ? v : static_cast<uint8_t>((v << n) | (v >> (8 - n)));
}

}  // namespace

void CFramer::Append(const char* data, size_t size)
{
    if (m_pos > 0 && m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = 0;
        m_lineScan = 0;
        m_sums.assign(1, 0);
    } else if (m_pos > 65536) {
        // What is left is at most one item waiting for its bytes; the sums start again with the buffer.
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_lineScan = m_lineScan > m_pos ? m_lineScan - m_pos : 0;
        m_pos = 0;
        m_sums.assign(1, 0);
    }
    m_buf.insert(m_buf.end(), data, data + size);
}

uint8_t CFramer::ChecksumAt(size_t start, size_t size)
{
    // Each byte's sum is worked out once, when a search out of sync first needs it.
    const size_t end = start + size;
    if (m_sums.size() <= end) {
        size_t j = m_sums.size() - 1;
        m_sums.resize(end + 1);
        for (; j < end; ++j) {
            m_sums[j + 1] = m_sums[j] ^ Rotl(static_cast<uint8_t>(m_buf[j]), 8 - 2 * (j & 3));
        }
    }
    return Rotl(m_sums[end] ^ m_sums[start], unsigned(2 * (end & 3)));
}

bool CFramer::Verify(size_t start, int size)
{
    // In sync each frame is checked once, straight; while searching, garbage may claim long frames at every byte,
    // and only the running sums keep that to constant time a byte.
    if (m_synced) {
        return VerifyFrame(m_buf.data() + start, size);
    }
    const char* frame = m_buf.data() + start;
    switch (CheckKindOf(frame[0], frame[1])) {
    case CheckKind::None:
        return true;
    case CheckKind::TrailingByte:
        return size > kHeaderSize && ChecksumAt(start, size_t(size - 1)) == static_cast<uint8_t>(frame[size - 1]);
    case CheckKind::TextAt:
        if (size < kHeaderSize + 3 || frame[size - 3] != '@') {
            return false;
        }
        [[fallthrough]];
    case CheckKind::TrailingHex: {
        if (size < kHeaderSize + 2) {
            return false;
        }
        const int hi = HexDigitValue(frame[size - 2]);
        const int lo = HexDigitValue(frame[size - 1]);
        return hi >= 0 && lo >= 0 && ChecksumAt(start, size_t(size - 2)) == hi * 16 + lo;
    }
    }
    return false;
}

CFramer::Step CFramer::Examine(int& len)
{
    const Step step = [&] {
        const size_t avail = m_buf.size() - m_pos;
        if (avail == 0) {
            return Step::Need;
        }
        const char* p = m_buf.data() + m_pos;
        const char c = p[0];
        if (c == '\r' || c == '\n') {
            return Step::Skip;
        }
        if (IsLineStart(c)) {
            const size_t limit = m_pos + std::min(avail, size_t(kMaxTextLine));
            size_t i = std::max(m_pos + 1, m_lineScan);
            for (; i < limit && IsLineChar(m_buf[i]); ++i) {
            }
            m_lineScan = i;
            if (i == limit) {
                return avail < size_t(kMaxTextLine) ? Step::Need : Step::Skip;
            }
            if (m_buf[i] == '\r' || m_buf[i] == '\n') {
                len = static_cast<int>(i - m_pos);
                return Step::Line;
            }
            return Step::Skip;
        }
        if (!IsIdChar(c)) {
            return Step::Skip;
        }
        // Check each header byte as soon as it is there, so that a bad header is dropped without waiting.
        if (avail < 2) {
            return Step::Need;
        }
        if (!IsIdChar(p[1])) {
            return Step::Skip;
        }
        int bodyLen = 0;
        for (int i = 2; i < kHeaderSize; ++i) {
            if (avail <= size_t(i)) {
                return Step::Need;
            }
            const int d = HexDigitValue(p[i]);
            if (d < 0) {
                return Step::Skip;
            }
            bodyLen = bodyLen * 16 + d;
        }
        const size_t total = size_t(kHeaderSize) + size_t(bodyLen);
        if (avail < total) {
            return Step::Need;
        }
        len = static_cast<int>(total);
        if (!Verify(m_pos, len)) {
            return Step::Bad;
        }
        if (m_synced) {
            return Step::Frame;
        }
        // Garbage passes an 8-bit checksum once in 256 tries; a frame found while resynchronising must also
        // end where the receiver ends frames, at a line end.
        const size_t after = m_pos + total;
        if (after == m_buf.size()) {
            return m_givingUp ? Step::Frame : Step::Need;
        }
        return m_buf[after] == '\r' || m_buf[after] == '\n' ? Step::Frame : Step::Bad;
    }();
    const bool giveUp = step == Step::Need && m_givingUp && !m_synced && m_pos < m_buf.size();
    return giveUp ? Step::Skip : step;
}

uint16_t CFramer::PendingFrameId() const
{
    const size_t avail = m_buf.size() - m_pos;
    if (avail < 2) {
        return 0;
    }
    const char* p = m_buf.data() + m_pos;
    if (!IsIdChar(p[0]) || !IsIdChar(p[1])) {
        return 0;
    }
    return static_cast<uint16_t>((static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]));
}

void CFramer::Reset()
{
    m_buf.clear();
    m_sums.assign(1, 0);
    m_pos = 0;
    m_lineScan = 0;
    m_synced = true;
    m_stats = Stats{};
}
