// The recording engine fed a receiver's raw stream. The input is a recipe: the recording's options (splitting,
// names, own header, block size), a medium that fills at some size, and a stream of time, date, satellite-list,
// data, header and epoch-end frames (times that step on, jump back or cross midnight), damaged frames, line ends
// and garbage, cut anywhere. Oracles: every file on the medium holds whole records only; the counts are what is on
// the medium; a recording that did not fail lost nothing.
#include "FuzzSupport.h"

#include "link/Checksum.h"
#include "logging/LogEngine.h"
#include "support/MemoryMedium.h"

namespace {

QByteArray Binary(const char* id, const QByteArray& body)
{
    QByteArray f = QByteArray(id, 2) + QByteArray::number(body.size() + 1, 16).toUpper().rightJustified(3, '0') + body;
    return f + char(Checksum8(f.constData(), size_t(f.size()))) + '\n';
}

QByteArray U32(uint32_t v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

// The records of a file: frames, each with its line end; -1 when the file ends in part of one.
int Records(const QByteArray& file)
{
    int records = 0;
    qsizetype at = 0;
    while (at < file.size()) {
        bool ok = false;
        const qsizetype length = file.size() - at >= 5 ? file.mid(at + 2, 3).toInt(&ok, 16) : 0;
        const qsizetype end = at + 5 + length + 1;
        if (!ok || end > file.size() || file[end - 1] != '\n') {
            return -1;
        }
        at = end;
        ++records;
    }
    return records;
}

}  // namespace

void FuzzLogEngine(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    MemoryMedium medium;
    const int64_t capacities[] = {0, 0, 200, 1000, 5000, 20000};
    medium.capacity = capacities[in.Pick(6)];
    LogOptions o;
    o.folder = QStringLiteral("/nonexistent/");
    const int units[] = {60, 3600, 86400};
    o.unitSeconds = units[in.Pick(3)];
    o.every = 1 + in.Pick(15);
    o.timeNames = in.Pick(2) == 1;
    o.ownHeader = in.Pick(2) == 1;
    o.singleFile = in.Pick(8) == 0;
    o.interval = in.Pick(3) * 0.5;
    const int blocks[] = {64, 300, 4096, 1 << 16};
    o.flushBytes = blocks[in.Pick(4)];
    // Only the stream decides when bytes are written: the engine's clock stands still.
    const auto frozen = std::chrono::steady_clock::now();
    CLogEngine engine([&medium] { return std::make_unique<CMemoryMediumWriter>(&medium); },
                      [frozen] { return frozen; });
    if (!engine.Start(o)) {
        FuzzFail("logengine", "a start on a medium that takes every file failed");
    }

    QByteArray stream;
    uint32_t ms = uint32_t(in.Byte()) * 337000u % 86400000u;
    while (!in.Empty() && stream.size() < 1 << 14) {
        switch (in.Pick(9)) {
            case 0: {
                const int step = in.Pick(5);
                ms = step == 0   ? ms + 1000
                     : step == 1 ? ms + 500
                     : step == 2 ? 86399000 + 1000 * uint32_t(in.Pick(2))  // to the last second and past
                     : step == 3 ? ms - std::min<uint32_t>(ms, 1000u * in.Byte())
                                 : ms + 60000u * in.Byte();
                ms %= 86400000u;
                stream += Binary("~~", U32(ms));
                break;
            }
            case 1:
                stream += Binary("RD", QByteArray::fromHex("e80706") + char(1 + in.Pick(3)) + char(in.Pick(4)));
                break;
            case 2:
                stream += Binary("SI", in.Bytes(size_t(in.Pick(12))));
                break;
            case 3:
                stream += Binary(in.Pick(2) ? "PG" : "NN", in.Bytes(size_t(in.Pick(40))));
                break;
            case 4:
                stream += Binary("||", QByteArray());
                break;
            case 5: {
                QByteArray f = Binary("PG", in.Bytes(29));
                f[in.Pick(int(f.size()))] = char(in.Byte());
                stream += f;
                break;
            }
            case 6:
                stream += in.Pick(2) ? QByteArray("MF009KV01010BF\r\n") : "KV005RLOGF\r\n";
                break;
            case 7:
                stream += in.Bytes(size_t(in.Pick(8)));
                break;
            default:
                stream += in.Pick(2) ? "\r\n" : "$GPGGA,1*00\r\n";
                break;
        }
    }
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype n = std::min<qsizetype>(1 + (at * 7 + stream.size()) % 97, stream.size() - at);
        engine.FeedStream(stream.constData() + at, int(n));
        at += n;
    }
    engine.Stop();

    const LogCounts c = engine.Counts();
    int64_t records = 0;
    for (const auto& [name, bytes] : medium.files) {
        const int n = Records(bytes);
        if (n < 0) {
            FuzzFail("logengine", "the file " + name.toStdString() + " ends in part of a record");
        }
        records += n;
    }
    if (c.bytes != medium.Used() || c.messages != records) {
        FuzzFail("logengine", "the counts (" + std::to_string(c.messages) + " messages, " + std::to_string(c.bytes) +
                                  " bytes) are not what is on the medium (" + std::to_string(records) + ", " +
                                  std::to_string(medium.Used()) + ")");
    }
    if (engine.GetState() != CLogEngine::State::Failed && (c.lostMessages != 0 || c.lostBytes != 0)) {
        FuzzFail("logengine", "a recording that did not fail lost messages");
    }
}
