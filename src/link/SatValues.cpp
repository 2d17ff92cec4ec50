#include "link/SatValues.h"

#include "link/GpsData.h"

#include <QtEndian>

namespace satvalues {

namespace {

// The bytes after the values: the checksum, and for "SS" the solution type.
int Trailer(uint16_t id)
{
    return id == MsgId('S', 'S') ? 2 : 1;
}

}  // namespace

int Width(uint16_t id)
{
    switch (id) {
        case MsgId('E', 'L'):
        case MsgId('A', 'Z'):
        case MsgId('E', 'C'):
        case MsgId('E', '1'):
        case MsgId('E', '2'):
        case MsgId('E', '3'):
        case MsgId('E', '5'):
        case MsgId('S', 'S'):
            return 1;
        case MsgId('T', 'C'):
            return 2;
        case MsgId('D', 'C'):
            return 4;
        default:
            return 0;
    }
}

int Count(uint16_t id, int bodySize)
{
    const int width = Width(id);
    return width > 0 && bodySize > Trailer(id) ? (bodySize - Trailer(id)) / width : 0;
}

std::optional<int> Read(uint16_t id, const char* body, int bodySize, int i)
{
    if (!body || i < 0 || i >= Count(id, bodySize)) {
        return std::nullopt;
    }
    const char* at = body + i * Width(id);
    const int u1 = static_cast<unsigned char>(at[0]);
    switch (id) {
        case MsgId('E', 'L'): {
            const int el = static_cast<signed char>(at[0]);
            return el == 127 ? std::nullopt : std::optional<int>(el);
        }
        case MsgId('A', 'Z'):
            return u1 == 255 ? std::nullopt : std::optional<int>(u1 * 2);
        case MsgId('T', 'C'):
            return qFromLittleEndian<quint16>(at);
        case MsgId('S', 'S'):
            return u1;
        case MsgId('D', 'C'): {
            const qint32 dc = qFromLittleEndian<qint32>(at);
            return dc == 0x7FFFFFFF ? std::nullopt : std::optional<int>(dc);
        }
        default:  // the C/N0 messages
            return u1 == 255 ? std::nullopt : std::optional<int>(u1);
    }
}

bool IsUsed(int status)
{
    return (status >= 0 && status <= 3) || (status >= 51 && status <= 55);
}

}  // namespace satvalues
