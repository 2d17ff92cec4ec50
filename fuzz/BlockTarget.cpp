// The host's side of the block protocol (CBlockReceiver) on receiver bytes. The input chooses a block size and a
// file length, then one of two games:
// - any bytes, in chunks, with time-outs between them;
// - the true file's blocks, each sent whole, cut in two, repeated, with one byte damaged (not its type), or after
//   noise that holds no block start (but may hold "#"), with time-outs between them.
// Oracles: it never takes more than the file's length and names the file complete only at exactly that length;
// in the second game every byte it takes is the file's own; it never asks again more than kMaxRetries times in a
// row; and once the input is used up, a bounded number of time-outs ends it.
#include "FuzzSupport.h"

#include "link/BlockReceiver.h"
#include "link/Checksum.h"

#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& why)
{
    FuzzFail("blocks", why);
}

// The receiver's blocks of `file`, with the CRC chain from 0. File bytes are letters: no block start inside.
std::vector<QByteArray> Blocks(const QByteArray& file, int blockSize)
{
    std::vector<QByteArray> blocks;
    uint16_t crc = 0;
    for (qsizetype pos = 0;; pos += blockSize) {
        const qsizetype left = file.size() - pos;
        const bool last = left <= blockSize;
        const uint16_t field = last ? uint16_t(left) : uint16_t(blocks.size());
        QByteArray b;
        b.append(last ? '\x04' : '\x02').append(char(field & 0xFF)).append(char(field >> 8));
        b.append(file.mid(pos, blockSize).leftJustified(blockSize, '\0'));
        crc = Crc16(b.constData(), size_t(b.size()), crc);
        blocks.push_back(b.append(char(crc & 0xFF)).append(char(crc >> 8)).append('\x03'));
        if (last) {
            return blocks;
        }
    }
}

}  // namespace

void FuzzBlocks(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    const int blockSize = 4 << in.Pick(4);
    const int64_t length = in.Pick(160);
    const bool trueBlocks = (in.Byte() & 1) != 0;
    QByteArray file(length, '\0');
    for (qsizetype i = 0; i < file.size(); ++i) {
        file[i] = char('a' + (i * 7) % 26);
    }
    const std::vector<QByteArray> blocks = Blocks(file, blockSize);

    CBlockReceiver r(blockSize, length);
    CBlockReceiver::Output out;
    int naksInARow = 0;
    int64_t lastReceived = 0;
    auto check = [&] {
        for (const char c : out.answer) {
            naksInARow = c == CBlockReceiver::kNak ? naksInARow + 1 : naksInARow;
        }
        out.answer.clear();
        if (r.Received() != lastReceived) {
            naksInARow = 0;
            lastReceived = r.Received();
        }
        if (naksInARow > CBlockReceiver::kMaxRetries) {
            Fail("more NAKs in a row than its retries");
        }
        if (out.data.size() != r.Received() || r.Received() > length) {
            Fail("took more than the file, or other bytes than it says");
        }
        if (trueBlocks && !file.startsWith(out.data)) {
            Fail("took bytes that are not the file's");
        }
        if (r.GetState() == CBlockReceiver::State::Done && r.Received() != length) {
            Fail("complete at " + std::to_string(r.Received()) + " of " + std::to_string(length) + " bytes");
        }
    };
    auto feed = [&](const QByteArray& bytes) { r.Feed(bytes.constData(), bytes.size(), out); };
    while (!in.Empty() && r.GetState() == CBlockReceiver::State::Running) {
        const size_t next = size_t(out.data.size() / blockSize);
        const QByteArray& block = blocks[std::min(next, blocks.size() - 1)];
        switch (trueBlocks ? in.Pick(6) : in.Pick(2)) {
            case 0:
                r.OnTimeout(out);
                break;
            case 1:
                feed(trueBlocks ? block : in.Bytes(size_t(in.Pick(80))));
                break;
            case 2: {
                const int cut = in.Pick(int(block.size()));
                feed(block.left(cut));
                feed(block.mid(cut));
                break;
            }
            case 3:
                feed(blocks[next > 0 ? next - 1 : 0]);
                break;
            case 4: {
                // The type byte stays, so that the stream keeps its block boundaries: a CRC-16 finds any other
                // damage of one byte.
                QByteArray damaged = block;
                damaged[1 + in.Pick(int(damaged.size()) - 1)] ^= char(1 + in.Pick(255));
                feed(damaged);
                break;
            }
            default: {
                QByteArray noise = in.Bytes(size_t(in.Pick(40)));
                for (char& c : noise) {
                    c = c == 0x02 || c == 0x04 ? '#' : c;
                }
                feed(noise + block);
                break;
            }
        }
        check();
    }
    // Silence from here on: each time-out either asks again (counted) or ends a wait for quiet.
    for (int i = 0; i <= 2 * (CBlockReceiver::kMaxRetries + 1) && r.GetState() == CBlockReceiver::State::Running; ++i) {
        r.OnTimeout(out);
        check();
    }
    if (r.GetState() == CBlockReceiver::State::Running) {
        Fail("still running after its retries");
    }
}
