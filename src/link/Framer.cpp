#include "link/Framer.h"

#include "link/Checksum.h"

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

CFramer::Step CFramer::Examine(int& len) const
{
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
        const size_t limit = avail < size_t(kMaxTextLine) ? avail : size_t(kMaxTextLine);
        for (size_t i = 1; i < limit; ++i) {
            if (p[i] == '\r' || p[i] == '\n') {
                len = static_cast<int>(i);
                return Step::Line;
            }
            if (!IsLineChar(p[i])) {
                return Step::Skip;
            }
        }
        return avail < size_t(kMaxTextLine) ? Step::Need : Step::Skip;
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
    return VerifyFrame(p, len) ? Step::Frame : Step::Bad;
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
    m_pos = 0;
    m_stats = Stats{};
}
