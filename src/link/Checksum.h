#pragma once

#include <cstddef>
#include <cstdint>

// The receiver's 8-bit stream checksum: c = rotl(c, 2) ^ b over the bytes, then one final rotl(c, 2).
inline uint8_t Checksum8(const char* data, size_t size)
{
    uint8_t c = 0;
    for (size_t i = 0; i < size; ++i) {
        c = static_cast<uint8_t>((c << 2) | (c >> 6)) ^ static_cast<uint8_t>(data[i]);
    }
    return static_cast<uint8_t>((c << 2) | (c >> 6));
}

// CRC-16 of the file download blocks (polynomial 0x1021, MSB first); `crc` carries over between blocks.
// Table-driven: a download checks every byte of the file.
inline uint16_t Crc16(const char* data, size_t size, uint16_t crc = 0)
{
    static const auto kTable = [] {
        struct T
        {
            uint16_t v[256];
        } t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 0x8000) ? static_cast<uint16_t>((c << 1) ^ 0x1021) : static_cast<uint16_t>(c << 1);
            }
            t.v[i] = c;
        }
        return t;
    }();
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kTable.v[((crc >> 8) ^ static_cast<uint8_t>(data[i])) & 0xFF]);
    }
    return crc;
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
