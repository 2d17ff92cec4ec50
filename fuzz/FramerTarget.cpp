// The stream framer. The input is a recipe for a receiver stream: frames of every integrity kind (mostly with
// right lengths and checksums), text lines, line ends and garbage. Oracles: the events do not depend on how the
// stream is cut; frames, lines and skipped bytes account for the stream in order; a stream built only of
// well-formed items yields exactly those frames and lines.
#include "FuzzSupport.h"

#include "link/Checksum.h"
#include "link/Framer.h"

#include <string>
#include <vector>

namespace {

struct Item
{
    CFramer::EventKind kind;
    QByteArray bytes;
    bool operator==(const Item&) const = default;
};

// Events with adjacent skipped runs merged: where the stream is cut decides only how such runs are split.
std::vector<Item> Run(const QByteArray& stream, const std::vector<int>& cuts)
{
    CFramer framer;
    std::vector<Item> items;
    auto sink = [&](const CFramer::Event& e) {
        if (e.kind == CFramer::EventKind::Skipped && !items.empty() && items.back().kind == e.kind) {
            items.back().bytes.append(e.data, e.size);
        } else {
            items.push_back({e.kind, QByteArray(e.data, e.size)});
        }
    };
    int pos = 0;
    for (int cut : cuts) {
        const int n = std::min(cut, int(stream.size()) - pos);
        framer.Feed(stream.constData() + pos, size_t(n), sink);
        pos += n;
    }
    framer.Feed(stream.constData() + pos, size_t(stream.size() - pos), sink);
    return items;
}

QByteArray Frame(const QByteArray& id, const QByteArray& body)
{
    return id + QByteArray::number(body.size(), 16).toUpper().rightJustified(3, '0') + body;
}

const char kPrintable[] =
    " !\"#$&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{|}~%";
const char* const kBinaryIds[] = {"~~", "RD", "PG", "SI", "EL", "||", "DC", "SE", "0~", "RE"};
const char* const kTextAtIds[] = {"MS", "PM", "GS", "NS"};

}  // namespace

void FuzzFramer(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    // The first bytes choose where the stream is cut.
    uint32_t seed = in.Byte();
    seed |= uint32_t(in.Byte()) << 8;
    const int maxCut = 1 + in.Pick(64);

    QByteArray stream;
    std::vector<Item> expected;  // what a well-formed stream must give
    bool wellFormed = true;
    auto add = [&](CFramer::EventKind kind, const QByteArray& item, const QByteArray& after = {}) {
        stream += item + after;
        expected.push_back({kind, item});
        if (!after.isEmpty()) {
            expected.push_back({CFramer::EventKind::Skipped, after});
        }
    };
    const QByteArray lineEnds[] = {"\r\n", "\n", "\r", ""};
    while (!in.Empty() && stream.size() < 200000) {
        const int op = in.Pick(10);
        const bool damage = (op & 1) && in.Pick(4) == 0;
        QByteArray frame;
        switch (op) {
            case 0:
            case 1: {  // binary message: its length counts the trailing checksum byte
                const QByteArray body = in.Bytes(size_t(in.Pick(48)));
                frame = QByteArray(kBinaryIds[in.Pick(int(std::size(kBinaryIds)))]) +
                        QByteArray::number(body.size() + 1, 16).toUpper().rightJustified(3, '0') + body;
                frame += char(Checksum8(frame.constData(), size_t(frame.size())) ^ (damage ? 1 : 0));
                break;
            }
            case 2:
            case 3: {  // text messages with "@HH" or, for MF, bare hex
                const bool mf = in.Pick(4) == 0;
                const QByteArray id =
                    mf ? QByteArray("MF") : QByteArray(kTextAtIds[in.Pick(int(std::size(kTextAtIds)))]);
                QByteArray text = in.Text(40, kPrintable) + (mf ? "" : "@");
                QByteArray head = Frame(id, text + "00");
                head.chop(2);
                const uint8_t sum = Checksum8(head.constData(), size_t(head.size())) ^ (damage ? 1 : 0);
                frame = head + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0');
                break;
            }
            case 4: {  // replies, without checksum
                const char* id = in.Pick(2) ? "RE" : "ER";
                frame = Frame(id, in.Text(60, kPrintable));
                break;
            }
            case 5: {  // "$" / "#" lines
                const char* start = in.Pick(2) ? "$" : "#";
                const QByteArray line = start + in.Text(80, kPrintable);
                add(CFramer::EventKind::TextLine, line, lineEnds[in.Pick(3)]);
                continue;
            }
            case 6: {
                const QByteArray ends = lineEnds[in.Pick(4)];
                if (!ends.isEmpty()) {
                    add(CFramer::EventKind::Skipped, ends);
                }
                continue;
            }
            case 7:  // a full-length reply
                frame = Frame("RE", QByteArray(CFramer::kMaxBody, char('A' + in.Pick(6))));
                break;
            case 8:  // garbage, raw or hex-like and long
                if (in.Pick(2)) {
                    stream += in.Bytes(size_t(in.Pick(32)));
                } else {
                    const int runs = 1 + in.Pick(64);
                    stream += QByteArray(64 * runs, "AF0"[in.Pick(3)]);
                }
                wellFormed = false;
                continue;
            default:  // a frame cut short or a header with a wrong length
                stream += Frame("RE", in.Text(16, kPrintable)).left(in.Pick(12));
                wellFormed = false;
                continue;
        }
        wellFormed = wellFormed && !damage;
        add(CFramer::EventKind::Frame, frame, lineEnds[in.Pick(4)]);
    }

    const std::vector<Item> whole = Run(stream, {});
    std::vector<int> cuts;
    for (int pos = 0; pos < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        cuts.push_back(1 + int((seed >> 16) % uint32_t(maxCut)));
        pos += cuts.back();
    }
    if (Run(stream, cuts) != whole) {
        FuzzFail("framer", "the events depend on how the stream is cut");
    }
    QByteArray accounted;
    for (const Item& item : whole) {
        if (item.kind != CFramer::EventKind::BadChecksum) {
            accounted += item.bytes;
        }
        if (item.kind == CFramer::EventKind::Frame &&
            !CFramer::VerifyFrame(item.bytes.constData(), int(item.bytes.size()))) {
            FuzzFail("framer", "a frame passed with a wrong checksum");
        }
    }
    if (!stream.startsWith(accounted)) {
        FuzzFail("framer", "frames, lines and skipped bytes do not account for the stream in order");
    }
    if (wellFormed) {
        std::vector<Item> expectedMerged;
        for (const Item& item : expected) {
            if (item.kind == CFramer::EventKind::Skipped && !expectedMerged.empty() &&
                expectedMerged.back().kind == item.kind) {
                expectedMerged.back().bytes += item.bytes;
            } else {
                expectedMerged.push_back(item);
            }
        }
        if (whole != expectedMerged) {
            FuzzFail("framer", "a well-formed stream did not give back its frames and lines");
        }
    }
}
