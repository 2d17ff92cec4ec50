#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The receiver's 8-bit stream checksum: c = rotl(c, 2) ^ b over the bytes, then one final rotl(c, 2).
// The sum is linear: byte k of n ends up rotated left by 2 (n - k) bits, which depends only on (n - k) mod 4. So
// the bytes are XORed by their position mod 4, eight at a time, and each of the four lanes is rotated once: every
// message of a recorded stream is checked, and the byte-serial form is the recorder's largest cost.
inline uint8_t Checksum8(const char* data, size_t size)
{
    static_assert(std::endian::native == std::endian::little, "lanes are read as little-endian words");
    uint64_t wide = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        wide ^= word;
    }
    uint64_t tail = 0;
    for (unsigned shift = 0; i < size; ++i, shift += 8) {
        tail |= uint64_t(static_cast<uint8_t>(data[i])) << shift;
    }
    wide ^= tail;
    const uint32_t lanes = static_cast<uint32_t>(wide) ^ static_cast<uint32_t>(wide >> 32);
    uint8_t c = 0;
    for (unsigned r = 0; r < 4; ++r) {
        const uint8_t lane = static_cast<uint8_t>(lanes >> (8 * r));
        const unsigned n = unsigned(2 * ((size - r) & 3));
        c ^= static_cast<uint8_t>((lane << n) | (lane >> ((8 - n) & 7)));
    }
    return c;
}

// CRC-16 of the file download blocks (polynomial 0x1021, MSB first); `crc` carries over between blocks.
// Both ends of a download check every byte of the file, so this runs eight bytes a step ("slicing by 8"):
// table k holds the CRC of a byte followed by k zero bytes, and the eight lookups of a step are independent.
inline uint16_t Crc16(const char* data, size_t size, uint16_t crc = 0)
{
    struct Tables
    {
        uint16_t t[8][256];
    };
    static const Tables kTables = [] {
        Tables tables{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 0x8000) ? static_cast<uint16_t>((c << 1) ^ 0x1021) : static_cast<uint16_t>(c << 1);
            }
            tables.t[0][i] = c;
        }
        for (int k = 1; k < 8; ++k) {
            for (int i = 0; i < 256; ++i) {
                const uint16_t prev = tables.t[k - 1][i];
                tables.t[k][i] = static_cast<uint16_t>((prev << 8) ^ tables.t[0][prev >> 8]);
            }
        }
        return tables;
    }();
    const auto* p = reinterpret_cast<const uint8_t*>(data);
    const auto& t = kTables.t;
    for (; size >= 8; size -= 8, p += 8) {
        const unsigned x = crc ^ ((unsigned(p[0]) << 8) | p[1]);
        crc = static_cast<uint16_t>(t[7][x >> 8] ^ t[6][x & 0xFF] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                    t[1][p[6]] ^ t[0][p[7]]);
    }
    for (; size > 0; --size, ++p) {
        crc = static_cast<uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ *p) & 0xFF]);
    }
    return crc;
}

// CRC-24Q of RTCM 3 frames (polynomial 0x1864CFB, MSB first), over the preamble, length and message.
inline uint32_t Crc24q(const uint8_t* data, size_t size)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 16;
        for (int b = 0; b < 8; ++b) {
            crc <<= 1;
            if (crc & 0x1000000u) {
                crc ^= 0x1864CFBu;
            }
        }
    }
    return crc & 0xFFFFFFu;
}

// Upper-case hex digit value, or -1. The receiver writes lengths and text checksums in upper case only.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
