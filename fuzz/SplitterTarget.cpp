// The splitter of NMEA, RTCM 3 and CMR recordings. The input is a recipe for a receiver's raw output: whole
// sentences and frames (some damaged), the receiver's own frames, line ends and garbage. Oracles: what comes out
// does not depend on how the stream is cut; every item is whole (a sentence may end in CR alone, as some receivers
// end them) and its checksum holds; a stream of undamaged items and line ends only gives exactly its sentences and
// frames.
#include "FuzzSupport.h"

#include "link/Checksum.h"
#include "logging/ForeignSplitter.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Item
{
    CForeignSplitter::Kind kind;
    QByteArray bytes;
    bool operator==(const Item&) const = default;
};

std::vector<Item> Run(const QByteArray& stream, uint32_t seed, int maxCut)
{
    CForeignSplitter splitter;
    std::vector<Item> items;
    auto sink = [&](const char* d, int n, CForeignSplitter::Kind kind) { items.push_back({kind, QByteArray(d, n)}); };
    int pos = 0;
    while (pos < stream.size()) {
        seed = seed * 1103515245u + 12345u;
        const int n = std::min(1 + int((seed >> 16) % uint32_t(maxCut)), int(stream.size()) - pos);
        splitter.Feed(stream.constData() + pos, n, sink);
        pos += n;
    }
    return items;
}

const char kPrintable[] = " ,.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz*$!";

bool Whole(const Item& item)
{
    const QByteArray& b = item.bytes;
    const auto* u = reinterpret_cast<const uint8_t*>(b.constData());
    switch (item.kind) {
        case CForeignSplitter::Kind::Nmea:
            return (b.startsWith('$') || b.startsWith('!')) && (b.endsWith('\n') || b.endsWith('\r')) &&
                   b.size() <= CForeignSplitter::kMaxSentence + 1;
        case CForeignSplitter::Kind::Rtcm3:
            return b.size() >= 6 && u[0] == 0xD3 && ((u[1] & 0x03) << 8 | u[2]) + 6 == b.size() &&
                   Crc24q(u, size_t(b.size() - 3)) ==
                       (uint32_t(u[b.size() - 3]) << 16 | uint32_t(u[b.size() - 2]) << 8 | u[b.size() - 1]);
        case CForeignSplitter::Kind::Cmr:
            return b.size() >= 6 && u[0] == 0x02 && u[3] + 6 == b.size() && u[b.size() - 1] == 0x03;
    }
    return false;
}

}  // namespace

void FuzzSplitter(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    uint32_t seed = in.Byte();
    seed |= uint32_t(in.Byte()) << 8;
    const int maxCut = 1 + in.Pick(64);

    QByteArray stream;
    std::vector<Item> expected;
    bool wellFormed = true;
    while (!in.Empty() && stream.size() < 100000) {
        const int op = in.Pick(8);
        const bool damage = in.Pick(8) == 0;
        QByteArray item;
        CForeignSplitter::Kind kind = CForeignSplitter::Kind::Nmea;
        switch (op) {
            case 0:
            case 1: {  // a sentence, with or without its checksum
                const QByteArray body = "GP" + in.Text(70, kPrintable + 6).replace('*', '.');
                uint8_t x = 0;
                for (char c : body) {
                    x ^= uint8_t(c);
                }
                item = '$' + body;
                if (in.Pick(4) != 0) {
                    item += '*' + QByteArray::number(x ^ (damage ? 1 : 0), 16).toUpper().rightJustified(2, '0');
                }
                item += in.Pick(2) ? "\r\n" : "\n";
                break;
            }
            case 2: {  // RTCM 3
                const QByteArray message = in.Bytes(size_t(in.Pick(200)));
                item = QByteArray("\xD3", 1) + char(message.size() >> 8) + char(message.size() & 0xFF) + message;
                const uint32_t crc =
                    Crc24q(reinterpret_cast<const uint8_t*>(item.constData()), size_t(item.size())) ^ (damage ? 1 : 0);
                item += char(crc >> 16);
                item += char(crc >> 8);
                item += char(crc);
                kind = CForeignSplitter::Kind::Rtcm3;
                break;
            }
            case 3: {  // CMR
                const QByteArray message = in.Bytes(size_t(in.Pick(100)));
                item = QByteArray("\x02", 1) + char(in.Byte()) + char(in.Byte()) + char(message.size()) + message;
                uint8_t sum = 0;
                for (int i = 1; i < item.size(); ++i) {
                    sum = uint8_t(sum + uint8_t(item[i]));
                }
                item += char(sum + (damage ? 1 : 0));
                item += '\x03';
                kind = CForeignSplitter::Kind::Cmr;
                break;
            }
            case 4: {  // one of the receiver's own frames: passed over
                const QByteArray body = in.Bytes(size_t(in.Pick(40)));
                QByteArray frame =
                    "~~" + QByteArray::number(body.size() + 1, 16).toUpper().rightJustified(3, '0') + body;
                frame += char(Checksum8(frame.constData(), size_t(frame.size())));
                stream += frame;
                continue;
            }
            case 5:
                stream += in.Pick(2) ? "\r\n" : "\n";
                continue;
            default:  // garbage
                stream += in.Bytes(size_t(1 + in.Pick(16)));
                wellFormed = false;
                continue;
        }
        stream += item;
        if (damage) {
            wellFormed = false;
        } else {
            expected.push_back({kind, item});
        }
    }

    const std::vector<Item> whole = Run(stream, 0, int(stream.size()) + 1);
    if (Run(stream, seed, maxCut) != whole) {
        FuzzFail("splitter", "the items depend on where the stream is cut");
    }
    for (const Item& item : whole) {
        if (!Whole(item)) {
            FuzzFail("splitter", "an item that is not whole: " + item.bytes.toHex().toStdString());
        }
    }
    if (wellFormed && whole != expected) {
        FuzzFail("splitter", "a well-formed stream gave other items than it holds");
    }
}
