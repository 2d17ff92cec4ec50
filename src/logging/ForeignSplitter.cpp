#include "logging/ForeignSplitter.h"

#include "link/Checksum.h"
#include "link/Framer.h"

#include <algorithm>
#include <cstring>

namespace {

int HexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

}  // namespace

CForeignSplitter::Step CForeignSplitter::Examine(int* len, Kind* kind) const
{
    const char* p = m_buf.data() + m_pos;
    const size_t have = m_buf.size() - m_pos;
    const uint8_t c = uint8_t(p[0]);
    if (c == '$' || c == '!') {
        // Printable text up to CR LF (or LF); "*hh" before it must be the XOR of the characters after '$'.
        for (size_t i = 1; i < have && i < size_t(kMaxSentence); ++i) {
            const char x = p[i];
            if (x == '\n' || x == '\r') {
                const bool crlf = x == '\r';
                if (crlf && i + 1 >= have) {
                    return Step::Need;
                }
                const size_t end = crlf && p[i + 1] == '\n' ? i + 2 : i + 1;
                if (i >= 4 && p[i - 3] == '*') {
                    const int hi = HexDigit(p[i - 2]);
                    const int lo = HexDigit(p[i - 1]);
                    uint8_t body = 0;
                    for (size_t k = 1; k < i - 3; ++k) {
                        body ^= uint8_t(p[k]);
                    }
                    if (hi < 0 || lo < 0 || body != uint8_t(hi << 4 | lo)) {
                        return Step::Drop;
                    }
                }
                *len = int(end);
                *kind = Kind::Nmea;
                return Step::Take;
            }
            if (uint8_t(x) < 0x20 || uint8_t(x) > 0x7E) {
                return Step::Drop;
            }
        }
        return have < size_t(kMaxSentence) ? Step::Need : Step::Drop;
    }
    if (c == 0xD3) {
        if (have < 3) {
            return Step::Need;
        }
        if ((uint8_t(p[1]) & 0xFC) != 0) {
            return Step::Drop;
        }
        const size_t n = size_t((uint8_t(p[1]) & 0x03) << 8 | uint8_t(p[2])) + 6;
        if (have < n) {
            return Step::Need;
        }
        const uint8_t* u = reinterpret_cast<const uint8_t*>(p);
        const uint32_t crc = uint32_t(u[n - 3]) << 16 | uint32_t(u[n - 2]) << 8 | u[n - 1];
        if (Crc24q(u, n - 3) != crc) {
            return Step::Drop;
        }
        *len = int(n);
        *kind = Kind::Rtcm3;
        return Step::Take;
    }
    if (c == 0x02) {
        // STX, status, type, length, data, checksum (status + type + length + data, modulo 256), ETX.
        if (have < 4) {
            return Step::Need;
        }
        const size_t n = size_t(uint8_t(p[3])) + 6;
        if (have < n) {
            return Step::Need;
        }
        uint8_t sum = 0;
        for (size_t i = 1; i < n - 2; ++i) {
            sum = uint8_t(sum + uint8_t(p[i]));
        }
        if (uint8_t(p[n - 2]) != sum || p[n - 1] != 0x03) {
            return Step::Drop;
        }
        *len = int(n);
        *kind = Kind::Cmr;
        return Step::Take;
    }
    // One of the receiver's own frames: passed over whole when it is one, so that its body is not searched.
    if (have < size_t(CFramer::kHeaderSize)) {
        return Step::Need;
    }
    auto idChar = [](char x) { return uint8_t(x) >= 0x30 && uint8_t(x) <= 0x7E; };
    const int h0 = HexDigit(p[2]), h1 = HexDigit(p[3]), h2 = HexDigit(p[4]);
    if (!idChar(p[0]) || !idChar(p[1]) || h0 < 0 || h1 < 0 || h2 < 0) {
        return Step::Drop;
    }
    const size_t n = size_t(CFramer::kHeaderSize + (h0 << 8 | h1 << 4 | h2));
    if (have < n) {
        return Step::Need;
    }
    if (!CFramer::VerifyFrame(p, int(n))) {
        return Step::Drop;
    }
    *len = int(n);
    return Step::Skip;
}

void CForeignSplitter::Feed(const char* data, int size, const Sink& sink)
{
    m_buf.insert(m_buf.end(), data, data + size);
    for (;;) {
        if (m_pos >= m_buf.size()) {
            break;
        }
        int len = 0;
        Kind kind = Kind::Nmea;
        const Step step = Examine(&len, &kind);
        if (step == Step::Need) {
            break;
        }
        if (step == Step::Take) {
            sink(m_buf.data() + m_pos, len, kind);
            m_pos += size_t(len);
        } else if (step == Step::Skip) {
            m_pos += size_t(len);
        } else {
            const char x = m_buf[m_pos];
            m_dropped += x == '\r' || x == '\n' ? 0 : 1;  // line ends between frames are no loss
            ++m_pos;
        }
    }
    // Keep only what is still undecided.
    m_buf.erase(m_buf.begin(), m_buf.begin() + std::ptrdiff_t(m_pos));
    m_pos = 0;
}
