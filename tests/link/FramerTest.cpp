#include "link/Checksum.h"
#include "link/CommandText.h"
#include "link/Framer.h"
#include "link/GpsData.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

struct Collected
{
    std::vector<std::string> frames;
    std::vector<std::string> lines;
    std::string other;  // skipped bytes, in order
    int bad = 0;
};

Collected FeedInChunks(const std::string& stream, const std::vector<size_t>& cuts)
{
    CFramer framer;
    Collected c;
    auto sink = [&](const CFramer::Event& e) {
        switch (e.kind) {
            case CFramer::EventKind::Frame:
                c.frames.emplace_back(e.data, size_t(e.size));
                break;
            case CFramer::EventKind::TextLine:
                c.lines.emplace_back(e.data, size_t(e.size));
                break;
            case CFramer::EventKind::Skipped:
                c.other.append(e.data, size_t(e.size));
                break;
            case CFramer::EventKind::BadChecksum:
                ++c.bad;
                break;
        }
    };
    size_t pos = 0;
    for (size_t cut : cuts) {
        framer.Feed(stream.data() + pos, cut - pos, sink);
        pos = cut;
    }
    framer.Feed(stream.data() + pos, stream.size() - pos, sink);
    return c;
}

std::string Binary(const char id[2], const std::string& payload)
{
    char header[6];
    std::snprintf(header, sizeof header, "%c%c%03X", id[0], id[1], unsigned(payload.size() + 1));
    std::string frame = std::string(header, 5) + payload;
    frame += char(Checksum8(frame.data(), frame.size()));
    return frame;
}

std::string Text(const char id[2], const std::string& text)
{
    char header[6];
    std::snprintf(header, sizeof header, "%c%c%03X", id[0], id[1], unsigned(text.size() + 3));
    std::string frame = std::string(header, 5) + text + "@";
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", Checksum8(frame.data(), frame.size()));
    return frame + cs;
}

}  // namespace

TEST(Checksum, MatchesTheProtocolVectors)
{
    EXPECT_EQ(Checksum8("~~005\0\0\0\0", 9), 0x5C);
    EXPECT_EQ(Checksum8("||001", 5), 0x46);
    EXPECT_EQ(Checksum8("RD006\xE8\x07\x06\x01\x00", 10), 0x5E);
    EXPECT_EQ(Checksum8("MS020,RTCMST,999,0000,0000,100.00,@", 35), 0x1F);
    // The word-at-a-time sum equals the byte-serial one at every length and alignment.
    std::vector<char> bytes(300);
    for (size_t k = 0; k < bytes.size(); ++k) {
        bytes[k] = char(k * 131 + (k >> 3) * 7 + 0x5A);
    }
    for (size_t at = 0; at < 9; ++at) {
        for (size_t n = 0; at + n <= bytes.size(); n += 1 + n / 16) {
            uint8_t c = 0;
            for (size_t k = 0; k < n; ++k) {
                c = uint8_t(((c << 2) | (c >> 6)) ^ uint8_t(bytes[at + k]));
            }
            ASSERT_EQ(Checksum8(bytes.data() + at, n), uint8_t((c << 2) | (c >> 6))) << at << " " << n;
        }
    }
    EXPECT_EQ(Crc16("123456789", 9), 0x31C3);
    // Download blocks chain their CRCs: the second block starts from the first one's.
    // Stored little-endian in the block: D9 5B, then BC 7A.
    const uint16_t first = Crc16(
        "\x02\x00\x00"
        "ABCD",
        7);
    EXPECT_EQ(first, 0x5BD9);
    EXPECT_EQ(Crc16("\x04\x02\x00"
                    "EF\x00\x00",
                    7, first),
              0x7ABC);
}

TEST(Checksum, Crc16EightBytesAStepMatchesTheBitwiseDefinition)
{
    auto bitwise = [](const std::string& s, uint16_t crc) {
        for (const char ch : s) {
            crc ^= uint16_t(uint8_t(ch) << 8);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
            }
        }
        return crc;
    };
    std::string data;
    uint32_t x = 12345;
    for (int i = 0; i < 1000; ++i) {
        x = x * 1103515245u + 12345u;
        data += char(x >> 16);
    }
    for (const size_t n : {size_t(0), size_t(7), size_t(8), size_t(9), size_t(63), size_t(1000)}) {
        for (const uint16_t start : {uint16_t(0), uint16_t(0xBEEF)}) {
            EXPECT_EQ(Crc16(data.data(), n, start), bitwise(data.substr(0, n), start)) << n;
        }
    }
}

TEST(Framer, VerifiesEveryKindOfFrame)
{
    const std::string mf = "MF009KV01010BF";  // "KV", "01", "01", "0", checksum
    const std::string stream = Binary("~~", std::string(4, '\0')) + "\n" + Text("MS", ",RTCMST,999,0000,0000,100.00,") +
                               "\r\n" + mf + "\r\n" + "RE003abc\r\n" + "ER005{2,x}\r\n" + "||001\x46\n";
    const Collected c = FeedInChunks(stream, {});
    ASSERT_EQ(c.frames.size(), 6u);
    EXPECT_EQ(c.frames[1], "MS020,RTCMST,999,0000,0000,100.00,@1F");
    EXPECT_EQ(c.frames[2], mf);
    EXPECT_EQ(c.frames[3], "RE003abc");
    EXPECT_EQ(c.frames[5], "||001\x46");
    EXPECT_EQ(c.bad, 0);
    EXPECT_EQ(c.other, "\n\r\n\r\n\r\n\r\n\n");
}

TEST(Framer, DropsBadFramesAndFindsTheGoodOnes)
{
    std::string corrupted = Binary("PG", std::string(29, '\x11'));
    corrupted[10] ^= 0x40;
    std::string badText = Text("MS", ",RTCMST,1,");
    badText.back() = badText.back() == '0' ? '1' : '0';
    const std::string good = Binary("TT", "\x10\x00\x00\x00");
    const std::string si = Binary("SI", "\x01\x02\x03");
    // A frame cut short by a reset swallows the next header into its length; the search starts again after it.
    const std::string truncated = Binary("PG", std::string(29, '\x22')).substr(0, 12);
    const std::string garbage = std::string("\x00\xff\x80zz9\x01", 7) + "E";
    // Out of sync, a frame also has to end at a line end: one at the very end of the bytes so far waits for it.
    const std::string lostSync = "\x01" + good;
    const struct
    {
        const char* what;
        std::string stream;
        std::vector<size_t> cuts;
        std::vector<std::string> frames;
        int bad;
    } cases[] = {
        {"bad checksums", corrupted + "\n" + badText + "\r\n" + good + "\n", {}, {good}, 2},
        {"garbage and a truncated frame", garbage + truncated + si + "\n" + si + "\n" + si + "\n", {}, {si, si, si}, 1},
        {"resync: line end after the cut", lostSync + "\n", {lostSync.size()}, {good}, 0},
        {"resync: no line end after the cut", lostSync + "X", {lostSync.size()}, {}, 1},
    };
    for (const auto& c : cases) {
        const Collected got = FeedInChunks(c.stream, c.cuts);
        EXPECT_EQ(got.frames, c.frames) << c.what;
        EXPECT_EQ(got.bad, c.bad) << c.what;
    }
}

TEST(Framer, PassesTextLinesAndKeepsThemOutOfFrames)
{
    const std::string stream = "#Receiver greeting\r\n$GPGGA,1,2,3*4F\r\n" + Binary("TT", "abcd") + "\n";
    const Collected c = FeedInChunks(stream, {});
    ASSERT_EQ(c.lines.size(), 2u);
    EXPECT_EQ(c.lines[0], "#Receiver greeting");
    EXPECT_EQ(c.lines[1], "$GPGGA,1,2,3*4F");
    EXPECT_EQ(c.frames.size(), 1u);
    // A '$' followed by binary bytes is not a line: the frame after it survives.
    const Collected d = FeedInChunks(std::string("$\x01") + Binary("TT", "abcd") + "\n", {});
    EXPECT_EQ(d.frames.size(), 1u);
}

TEST(Framer, AcceptsTheLargestBodyAndWaitsForItWhole)
{
    const std::string body(CFramer::kMaxBody, 'x');
    const std::string frame = "RE" + std::string("FFF") + body;
    CFramer framer;
    int frames = 0;
    auto sink = [&](const CFramer::Event& e) {
        if (e.kind == CFramer::EventKind::Frame) {
            ++frames;
            EXPECT_EQ(e.size, CFramer::kHeaderSize + CFramer::kMaxBody);
        }
    };
    framer.Feed(frame.data(), frame.size() - 1, sink);
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(framer.PendingFrameId(), MsgId('R', 'E'));
    framer.Feed(frame.data() + frame.size() - 1, 1, sink);
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(framer.PendingFrameId(), 0);
}

TEST(Framer, GivesTheSameResultHoweverTheStreamIsCutAlsoThroughNoise)
{
    std::mt19937 rng(7);
    std::string stream;
    for (int i = 0; i < 300; ++i) {
        switch (rng() % 6) {
            case 0:
                stream += Binary("PG", std::string(29, char(rng()))) + "\n";
                break;
            case 1:
                stream += Text("MS", ",RTCMST," + std::to_string(rng() % 1000) + ",") + "\r\n";
                break;
            case 2:
                stream += "RE005%nm1%\r\n";
                break;
            case 3:
                stream += "$GPGSV,3,1," + std::to_string(i) + "\r\n";
                break;
            case 4:  // noise, now and then long enough to hold a false header and body
                for (int k = 0, n = int(rng() % 400); k < n; ++k) {
                    stream += char(rng());
                }
                break;
            default: {
                std::string f = Binary("EL", std::string(rng() % 40, '\x05'));
                if (rng() % 3 == 0) {
                    f[f.size() / 2] ^= 0x10;
                }
                stream += f + "\n";
            }
        }
    }
    const Collected whole = FeedInChunks(stream, {});
    for (int round = 0; round < 30; ++round) {
        std::vector<size_t> cuts;
        size_t pos = 0;
        while (true) {
            pos += 1 + rng() % (round < 10 ? 3 : 200);
            if (pos >= stream.size()) {
                break;
            }
            cuts.push_back(pos);
        }
        const Collected parts = FeedInChunks(stream, cuts);
        ASSERT_EQ(parts.frames, whole.frames) << "round " << round;
        ASSERT_EQ(parts.lines, whole.lines);
        ASSERT_EQ(parts.other, whole.other);
        ASSERT_EQ(parts.bad, whole.bad);
    }
    EXPECT_GT(whole.frames.size(), 80u);
}

TEST(Framer, ResynchronisesInLinearTimeAndGivesUpAGuessWhenTheStreamGoesQuiet)
{
    // Hex-like garbage makes every position a header with a long body, a '#' run a line that never ends.
    for (char junk : {'A', 'F', '#'}) {
        SCOPED_TRACE(junk);
        const std::string reply = "RE00C%nm1f%behind\r\n";
        // (A reply right after a '#' run would end that line: such a run ends with its own line end here.)
        const std::string stream = std::string(1 << 20, junk) + (junk == '#' ? "\n" : "") + reply;
        CFramer framer;
        std::vector<std::string> frames;
        auto sink = [&](const CFramer::Event& e) {
            if (e.kind == CFramer::EventKind::Frame) {
                frames.emplace_back(e.data, size_t(e.size));
            }
        };
        const auto start = std::chrono::steady_clock::now();
        framer.Feed(stream.data(), stream.size(), sink);
        // The last guess waits for a body that never comes, until the stream is quiet.
        if (framer.WaitingOnGuess()) {
            framer.GiveUpGuess(sink);
        }
        // Linear: well under a second, also under ASan on a loaded machine; quadratic rescanning of this megabyte
        // would take minutes.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.back(), reply.substr(0, reply.size() - 2));
        EXPECT_FALSE(framer.WaitingOnGuess());
    }
    // A frame that began in sync is no guess: it waits for its body however long that takes.
    CFramer framer;
    const std::string frame = Binary("TT", "abcd");
    framer.Feed(frame.data(), 6, [](const CFramer::Event&) {});
    EXPECT_FALSE(framer.WaitingOnGuess());
}
