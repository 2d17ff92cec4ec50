#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// The host's side of the "get" block protocol, without I/O or time: bytes from the receiver go in, the answers
// to send and the verified file bytes come out. Blocks are checked against the CRC chain of this get (it starts
// at 0); a repeated block after a lost ACK is recognised by its number and dropped; block numbers wrap after
// 65535. At most `limit` bytes are taken: a file that grows while it is read ends there.
//
// Before it asks for a block again after bytes came (a bad block, a block cut off by a stall), the line must go
// quiet: the rest of a stale block may still be on its way, and its bytes would otherwise be read as a block
// start or as the receiver's abort. Likewise a "#" is the receiver's abort only when nothing follows it. While
// either waits, WantsQuiet() is true and the caller calls OnTimeout() after a short quiet instead of the block
// time-out. Every NAK, and every repeated block, counts against kMaxRetries in a row.
class CBlockReceiver
{
public:
    static constexpr char kNak = 0x15;
    static constexpr char kAck = 0x06;
    static constexpr char kAbort = '#';
    // Bad, lost or repeated blocks in a row before the host gives up.
    static constexpr int kMaxRetries = 6;
    // While purging, more than this many block lengths of bytes mean the receiver does not stop.
    static constexpr int kMaxPurgeBlocks = 2;

    enum class State { Running, Done, Failed };

    struct Output
    {
        QByteArray answer;  // bytes for the receiver
        QByteArray data;    // verified file bytes, in order (when `write` is not set)
        // Takes the verified bytes straight from the received block instead of `data` (no copy in between).
        std::function<void(const char* data, qsizetype size)> write;
    };

    CBlockReceiver(int blockSize, int64_t limit);

    // The first request (a NAK).
    QByteArray Begin() const { return QByteArray(1, kNak); }
    void Feed(const char* data, qsizetype size, Output& out);
    // No byte came within the time-out (or, while WantsQuiet(), within the quiet interval).
    void OnTimeout(Output& out);
    // The line has to go quiet before the next step (see above).
    bool WantsQuiet() const { return m_purging || m_abortPending; }

    State GetState() const { return m_state; }
    // Why it failed (an "Aborted: ..." text is built from it).
    QString Error() const { return m_error; }
    // The receiver may still send: read until the line is quiet before the next command.
    bool NeedsDrain() const { return m_drain; }
    // The file had more bytes than the limit (it grew while it was read).
    bool Grew() const { return m_grew; }
    int64_t Received() const { return m_received; }
    int BlockLength() const { return m_blockSize + 6; }

private:
    // Reads blocks from `data`; returns how many bytes were used up (the rest is an unfinished block).
    qsizetype Consume(const char* data, qsizetype size, Output& out);
    // False when the rest of the input is to be dropped (a bad block, the end).
    bool HandleBlock(const char* block, Output& out);
    // Counts a retry; false (and failed) past the limit.
    bool CountRetry(Output& out, const QString& why);
    void Retry(Output& out, const QString& why);
    // Drops what comes until the line is quiet, then asks for the block again.
    void Purge(Output& out, const QString& why);
    void Fail(Output& out, const QString& why, bool abort);
    void Take(const char* data, int64_t n, Output& out);

    int m_blockSize;
    int64_t m_limit;
    QByteArray m_buf;         // an unfinished block, kept between calls
    uint16_t m_crc = 0;       // chain value after the last good block
    uint16_t m_prevCrc = 0;   // chain value before it, for a repeated block
    uint16_t m_expected = 0;  // number of the next ordinary block
    bool m_haveBlock = false;
    int m_retries = 0;
    int64_t m_received = 0;
    State m_state = State::Running;
    QString m_error;
    bool m_drain = false;
    bool m_grew = false;
    bool m_purging = false;
    bool m_abortPending = false;  // a "#" came last: an abort if the line stays quiet
    int64_t m_purged = 0;         // bytes dropped while purging
};
