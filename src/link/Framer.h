#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Splits the receiver's byte stream into frames (two identifier characters, three hex length digits, body),
// text lines ("$..." NMEA, "#..." greetings) and skipped bytes. Byte-at-a-time in spirit: anything that does
// not fit drops one byte and the search starts again, so the result never depends on how the stream is cut.
// Each byte costs constant time however the stream is garbled: out of sync, checksums come from running sums, and
// a text line's bytes are looked at once.
class CFramer
{
public:
    static constexpr int kHeaderSize = 5;
    static constexpr int kMaxBody = 0xFFF;
    static constexpr int kMaxTextLine = 1024;

    enum class EventKind {
        Frame,        // a complete frame whose checksum (where it has one) is right
        TextLine,     // a line beginning with 0x21..0x2F, without its line end
        Skipped,      // line ends between frames and bytes that lost sync
        BadChecksum,  // a frame-shaped run whose checksum is wrong; its bytes are searched again
    };

    struct Event
    {
        EventKind kind;
        const char* data;
        int size;
    };

    // How a frame's integrity is checked, decided by its identifier.
    enum class CheckKind { None, TrailingByte, TextAt, TrailingHex };
    static CheckKind CheckKindOf(char a, char b);
    static bool VerifyFrame(const char* frame, int size);

    struct Stats
    {
        uint64_t frames = 0;
        uint64_t lines = 0;
        uint64_t badChecksums = 0;
        uint64_t skippedBytes = 0;
    };

    // Feeds bytes; `sink(const Event&)` is called for every item completed by them. Event data point into
    // the framer's buffer and are valid only during the call.
    template <typename Sink>
    void Feed(const char* data, size_t size, Sink&& sink);

    // Identifier of a frame whose header has arrived but whose body has not, else 0.
    uint16_t PendingFrameId() const;

    // Whether the bytes held back are a guess made while the stream was out of sync (garbage that happens to
    // look like a header waits for a body that may never come).
    bool WaitingOnGuess() const { return !m_synced && m_pos < m_buf.size(); }
    // The stream went quiet: gives such a guess up and searches the bytes after it again, as far as they go.
    template <typename Sink>
    void GiveUpGuess(Sink&& sink);

    // The stream is joined in its middle (a port that already outputs, a relay): its first frame is taken only where
    // the receiver ends frames, at a line end, as while resynchronising.
    void StartMidStream() { m_synced = false; }

    const Stats& GetStats() const { return m_stats; }
    void Reset();

private:
    enum class Step { Need, Frame, Line, Skip, Bad };
    // Decides what starts at m_buf[m_pos]; `len` receives the length of the item.
    Step Examine(int& len);
    bool Verify(size_t start, int size);
    // The stream checksum of m_buf[start, start + size) from the running sums, extending them as far as needed.
    uint8_t ChecksumAt(size_t start, size_t size);
    void Append(const char* data, size_t size);
    template <typename Sink>
    void Run(Sink&& sink);

    std::vector<char> m_buf;
    // m_sums[k] = XOR of rotr(m_buf[j], 2 j) for j < k: any window's checksum in constant time. Worked out only as
    // far as a search out of sync has needed.
    std::vector<uint8_t> m_sums{0};
    size_t m_pos = 0;
    // Bytes before this index (and after m_pos) are known to be text-line characters.
    size_t m_lineScan = 0;
    // Whether the last item was whole; a stream is taken to begin at a frame boundary.
    bool m_synced = true;
    bool m_givingUp = false;
    Stats m_stats;
};

template <typename Sink>
void CFramer::Feed(const char* data, size_t size, Sink&& sink)
{
    Append(data, size);
    Run(sink);
}

template <typename Sink>
void CFramer::GiveUpGuess(Sink&& sink)
{
    m_givingUp = true;
    Run(sink);
    m_givingUp = false;
}

template <typename Sink>
void CFramer::Run(Sink&& sink)
{
    size_t skipStart = m_pos;
    auto flushSkipped = [&]() {
        if (m_pos > skipStart) {
            const int n = static_cast<int>(m_pos - skipStart);
            m_stats.skippedBytes += static_cast<uint64_t>(n);
            sink(Event{EventKind::Skipped, m_buf.data() + skipStart, n});
        }
    };
    for (;;) {
        int len = 0;
        const Step step = Examine(len);
        if (step == Step::Need) {
            break;
        }
        if (step == Step::Skip) {
            const char c = m_buf[m_pos];
            m_synced = m_synced && (c == '\r' || c == '\n');
            ++m_pos;
            continue;
        }
        if (step == Step::Bad) {
            flushSkipped();
            ++m_stats.badChecksums;
            sink(Event{EventKind::BadChecksum, m_buf.data() + m_pos, len});
            skipStart = m_pos;
            m_synced = false;
            ++m_pos;  // resynchronise one byte further on
            continue;
        }
        flushSkipped();
        m_synced = true;
        if (step == Step::Frame) {
            ++m_stats.frames;
            sink(Event{EventKind::Frame, m_buf.data() + m_pos, len});
        } else {
            ++m_stats.lines;
            sink(Event{EventKind::TextLine, m_buf.data() + m_pos, len});
        }
        m_pos += static_cast<size_t>(len);
        skipStart = m_pos;
    }
    flushSkipped();
}
