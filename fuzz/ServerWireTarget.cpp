// The receiver server's frames and word lines, as both ends read them from the network. The input is a byte
// stream and the sizes of the pieces it arrives in. Oracles: the frames do not depend on how the stream is cut
// and are those of a plain reading of the headers; a length beyond the limit is refused, never waited for; the
// words and body read from any payload come back unchanged through Pack; a frame written reads back.
#include "FuzzSupport.h"

#include "link/ServerWire.h"

#include <QtEndian>

#include <vector>

using namespace ServerWire;

namespace {

struct Reading
{
    std::vector<std::pair<char, QByteArray>> frames;
    bool bad = false;
};

Reading Read(const QByteArray& stream, const std::vector<int>& cuts)
{
    Reading out;
    CFrameReader reader;
    qsizetype pos = 0;
    size_t next = 0;
    while (!out.bad) {
        char type = 0;
        QByteArray payload;
        CFrameReader::Result r;
        while ((r = reader.Next(type, payload)) == CFrameReader::Result::Frame) {
            out.frames.emplace_back(type, payload);
        }
        out.bad = r == CFrameReader::Result::Bad;
        if (pos >= stream.size()) {
            break;
        }
        const qsizetype n = next < cuts.size() ? cuts[next++] : stream.size() - pos;
        reader.Append(stream.mid(pos, n));
        pos += n;
    }
    return out;
}

Reading Plain(const QByteArray& stream)
{
    Reading out;
    qsizetype pos = 0;
    while (stream.size() - pos >= kHeaderSize) {
        const quint32 length = qFromBigEndian<quint32>(stream.constData() + pos + 1);
        if (length > quint32(kMaxPayload)) {
            out.bad = true;
            break;
        }
        if (stream.size() - pos - kHeaderSize < qsizetype(length)) {
            break;
        }
        out.frames.emplace_back(stream[pos], stream.mid(pos + kHeaderSize, length));
        pos += kHeaderSize + length;
    }
    return out;
}

}  // namespace

void FuzzServerWire(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    std::vector<int> cuts;
    for (int n = in.Pick(8); n > 0; --n) {
        cuts.push_back(1 + in.Pick(40));
    }
    const QByteArray stream = in.Rest();
    const Reading expected = Plain(stream);
    const Reading whole = Read(stream, {});
    const Reading cut = Read(stream, cuts);
    if (whole.frames != expected.frames || whole.bad != expected.bad) {
        FuzzFail("serverwire", "the reader does not read the headers as written");
    }
    if (cut.frames != whole.frames || cut.bad != whole.bad) {
        FuzzFail("serverwire", "the frames depend on how the stream was cut");
    }
    for (const auto& [type, payload] : whole.frames) {
        QStringList words;
        QByteArray body;
        if (Unpack(payload, words, body) != payload.contains('\n')) {
            FuzzFail("serverwire", "a payload with a line end is no word line, or one without is");
        }
        QStringList again;
        QByteArray againBody;
        if (!Unpack(Pack(words, body), again, againBody) || again != words || againBody != body) {
            FuzzFail("serverwire", "words or body change through Pack");
        }
        CFrameReader back;
        back.Append(Frame(type, payload));
        char backType = 0;
        QByteArray backPayload;
        if (back.Next(backType, backPayload) != CFrameReader::Result::Frame || backType != type ||
            backPayload != payload || back.Buffered() != 0) {
            FuzzFail("serverwire", "a frame written does not read back");
        }
    }
}
