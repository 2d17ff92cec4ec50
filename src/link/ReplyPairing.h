#pragma once

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <vector>

// Pairs the receiver's reply frames with the statements of one command line, with no thread and no I/O of its
// own: frames and time go in, the replies of each statement and counts of what was dropped come out.
//
//     CReplyPairing p;
//     p.Start({{"nm1a", true}, {"nm1b", false}}, 1500, now);   // "a&&b" sent with private tags nm1a, nm1b
//     p.OnReplyFrame("RE007%nm1a%x", now);                     // Paired
//     p.Check(now);                                            // Waiting, Complete, TimedOut, TooSlow, TooLarge
//
// Rules: only a frame carrying a statement's private tag starts that statement's reply, once; a frame that
// begins with a blank continues the statement whose last frame filled a whole frame, and nothing else. Every
// other reply frame is not an answer: untagged ones are unsolicited (the caller passes them on as raw output),
// foreign or stale tags and orphan continuations are dropped. All of them are counted.
class CReplyPairing
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // One line's replies must be complete within this many silence time-outs of sending it (15 s by default),
    // however steadily they trickle in.
    static constexpr int kMaxReplySilences = 10;
    // At most this many reply bytes for one line; more ends the command (a receiver that never stops).
    static constexpr int kMaxReplyBytes = 1 << 20;

    struct Statement
    {
        QByteArray tag;            // the private tag, without percent signs
        bool skipOnError = false;  // followed by "&&": an error reply skips the next statement
    };

    enum class Take { Paired, Unsolicited, Dropped };
    enum class State { Idle, Waiting, Complete, TimedOut, TooSlow, TooLarge };

    // Starts waiting for the replies of one line; `silenceMs` is the connection's time-out.
    void Start(std::vector<Statement> statements, int silenceMs, TimePoint now);
    // More of the statements were just sent (a pipelined batch): the caps count from now, as for a line of its
    // own, and so does the silence.
    void OnMoreSent(TimePoint now);
    // No line is waiting any more (its frames stay readable until the next Start).
    void Stop();
    bool Active() const { return m_active; }

    // One complete "RE" or "ER" frame (identifier, length digits, body).
    Take OnReplyFrame(const QByteArray& frame, TimePoint now);
    // Part of a reply frame arrived: the silence starts again.
    void OnReplyBytes(TimePoint now);

    State Check(TimePoint now) const;
    // When Check may change without new input.
    TimePoint NextDeadline() const;

    // Per statement, the frames paired with it, in order of arrival.
    const std::vector<std::vector<QByteArray>>& Frames() const { return m_frames; }
    // Whether statement i's reply is whole (answered and not waiting for a continuation).
    bool IsWhole(size_t i) const;

    // Reply frames that were not answers, since construction; and the untagged ones while the line waited.
    uint64_t UnpairedFrames() const { return m_unpaired; }
    int UntaggedWhileWaiting() const { return m_untaggedInLine; }

private:
    bool AllAnswered() const;

    std::vector<Statement> m_statements;
    std::vector<std::vector<QByteArray>> m_frames;
    bool m_active = false;
    int m_silenceMs = 0;
    TimePoint m_start;
    TimePoint m_activity;
    int64_t m_bytes = 0;
    // The statement whose last frame was full and the most recent one paired, or -1.
    int m_continuing = -1;
    uint64_t m_unpaired = 0;
    int m_untaggedInLine = 0;
};
