#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// Picks the messages of other formats out of a receiver's raw output (everything but the replies to commands):
// NMEA sentences with their line end, RTCM 3 frames and CMR frames, each whole and only when its checksum
// holds. The receiver's own frames (the time messages that drive file changes arrive among them) and bytes
// that fit nothing are dropped. The result does not depend on how the stream is cut into pieces.
class CForeignSplitter
{
public:
    enum class Kind { Nmea, Rtcm3, Cmr };
    using Sink = std::function<void(const char* data, int size, Kind kind)>;

    static constexpr int kMaxSentence = 1024;

    void Feed(const char* data, int size, const Sink& sink);
    uint64_t DroppedBytes() const { return m_dropped; }

private:
    enum class Step { Need, Take, Skip, Drop };
    // What begins at m_buf[m_pos]; `len` receives the length of a taken or skipped item.
    Step Examine(int* len, Kind* kind) const;

    std::vector<char> m_buf;
    size_t m_pos = 0;
    uint64_t m_dropped = 0;
};
