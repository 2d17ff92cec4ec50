#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <vector>

class CAutoResetEvent;

// Message identifier as one 16-bit number, first character in the high byte.
constexpr uint16_t MsgId(char a, char b)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(a) << 8) | static_cast<uint8_t>(b));
}

// One entry of a message table attached to a receiver. The link fills `buffer` with the raw messages
// (identifier, length digits, body) of this id and sets `event` when it is not null; readers take the buffer
// under the connection's lock.
struct GPSDATA
{
    // Called with one raw message: two identifier characters, three length characters, the body.
    using Handler = std::function<void(const QByteArray& message)>;

    // Keep every message received since the last copy instead of only the newest one.
    static constexpr int kKeepAll = 1;
    // A kept-all buffer that nobody empties (a stream whose epochs never end) starts again beyond this size.
    static constexpr int kMaxKeptBytes = 256 * 1024;

    uint16_t id = 0;
    Handler handler;
    QByteArray buffer;
    uint32_t reserved = 0;
    CAutoResetEvent* event = nullptr;
    int flag = 0;
};

using GpsDataTable = std::vector<GPSDATA>;

// Puts one raw message into its entry the way the link does; the caller holds the table's lock.
inline void KeepMessage(GPSDATA& entry, const QByteArray& message)
{
    if ((entry.flag & GPSDATA::kKeepAll) && entry.buffer.size() + message.size() <= GPSDATA::kMaxKeptBytes) {
        entry.buffer += message;
    } else {
        entry.buffer = message;
    }
}
