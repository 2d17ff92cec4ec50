#pragma once

#include "link/Framer.h"
#include "link/GpsData.h"

#include <QString>

#include <functional>
#include <memory>

class CAutoResetEvent;
class CConnection;
struct CommandBatch;
struct ReceiverLink;

// One receiver reached over a connection. All commands are blocking for their caller and may be sent from any
// thread except the link's own I/O thread (where message callbacks run); there they fail at once.
class CReceiver
{
public:
    // Raw receiver output that is not a reply to a command: the message stream, text lines, stray bytes.
    using RawOutputCallback = std::function<void(const char* data, int length)>;
    // Called on a command's own thread, with no lock held, once the command has waited kWaitingCallbackMs for its
    // replies: the moment for work that must not hold up a quick reply nor wait for a slow one (a script runner
    // writes out its record then, instead of once per command).
    using WaitingCallback = std::function<void()>;
    static constexpr int kWaitingCallbackMs = 2;
    // Called on the link's I/O thread for every message of an attached set; read it with the *MsgBuf calls.
    // A callback must not wait for the thread that detaches or closes the receiver.
    using MessageCallback = std::function<void(CReceiver* receiver)>;

    static constexpr int kOpenAttempts = 3;
    static constexpr int kTransportOpenTimeoutMs = 10000;
    // A stream that lost sync and then went quiet this long with a guessed frame unfinished gives the guess up,
    // so that a reply behind garbage is read without waiting for bytes that never come.
    static constexpr int kResyncQuietMs = 100;
    // After an aborted download the line must stay quiet this long before the next command; a receiver that
    // keeps sending for kDrainLimitMs in all makes the link unusable: it is closed and reported lost.
    static constexpr int kDrainQuietMs = 200;
    static constexpr int kDrainLimitMs = 2000;
    // The receiver waits this long for the host's answer to a block.
    static constexpr int kGetTimeoutS = 10;
    // A "@scr stoperrors off" batch of lines that each only print is sent ahead of its replies, with at most this
    // many bytes of commands unanswered: a receiver's input buffer is small.
    static constexpr int kPipelineBytes = 512;
    static bool IsPipelinable(const CommandBatch& batch);

    // Why the last command (or Open) failed.
    enum class Failure {
        None,
        ErrorReply,  // the receiver answered with an error
        TimedOut,    // no whole reply in time, or a reply beyond the size or total-time caps
        LinkLost,    // the transport went away, or the receiver is not open
        Cancelled,   // Cancel() ended it
    };

    CReceiver();
    ~CReceiver();
    CReceiver(const CReceiver&) = delete;
    CReceiver& operator=(const CReceiver&) = delete;

    // Open flags. kOpenListenOnly: nothing is sent, not even the check that the receiver answers (a port that
    // already outputs, or one this program must not talk on), and the raw-output callback set before Open
    // (SendCommand with the empty text) stays, so that it gets the stream from its first byte.
    static constexpr int kOpenListenOnly = 1;

    // Opens the receiver `name` (see ReceiverName.h) and checks that it answers, unless `flags` says otherwise.
    // Returns non-zero on success; on failure GetReplyString() says why.
    int Open(CConnection* connection, const QString& name, int flags = 0);
    // Closes the link; attachments end, a waiting command fails.
    void Close(bool force = false);
    bool IsOpen() const;
    QString GetName() const;

    // Sends a command, a "&&"/";" chain, several lines, or an "@scr stoperrors [off]" ... "@end" batch and waits
    // for the replies. The callback (or its absence) becomes the raw-output callback; the empty text only sets it.
    // Success: every command answered; for a single command or a stoperrors batch also no error reply.
    int SendCommand(const QString& text, RawOutputCallback callback = nullptr);
    // For the commands sent from now on; null for none.
    void SetWaitingCallback(WaitingCallback callback);
    // The replies of the last command: each reply frame as text followed by CR LF; after a failure other than an
    // error reply, the replies of the statements that were answered followed by the reason.
    QString GetReplyString() const;
    Failure LastFailure() const;

    // Ends a command waiting in SendCommand (or an Open) at once with Failure::Cancelled. Callable from any
    // thread; a command sent after it is not affected.
    void Cancel();

    // Starts the message set (e.g. "PG,RT:1,EE") on the current port and routes its messages either into the
    // table (callback null) or to the callback (table null).
    int Attach(unsigned char channel, MessageCallback callback, const QString& messageSet, GpsDataTable* table);
    // Stops routing the channel's messages and stops those no other attachment needs.
    int Detach(unsigned char channel);
    // Waits up to `timeoutMs` for `event`, the event of an attached table's entry; true when it was set. Over a
    // receiver's TCP port the waiting thread reads the stream itself meanwhile (when no command does), so that a
    // message that sets the event wakes only this thread, not the I/O thread and then this one. Set the event
    // from another thread with WakeTableWaiter() after it.
    bool WaitTableEvent(CAutoResetEvent& event, int timeoutMs);
    // Any thread: a thread in WaitTableEvent looks at its event again at once.
    void WakeTableWaiter();

    // Inside a MessageCallback: the current message (identifier, length digits, body).
    unsigned char readMsgBuf(int i) const;
    char* getMsgBuf(int offset);
    int getMsgBufSize() const;
    bool IsMsgBufEmpty() const;
    void setMsgBuf(int i, unsigned char value);
    void add2MsgBuf(unsigned char value);
    unsigned char getMsgChannel() const;

    CFramer::Stats GetStreamStats() const;

    // Downloads the receiver file "/log/<name>" into `localPath` with the "get" block protocol (block size 512 to
    // 16384) and returns once the transfer has started; non-zero then, else GetReplyString() says why. Bytes go
    // to "<localPath>.part"; the file gets its name only when every block's chained CRC was right and its length
    // is the size the receiver gave at the start (a file being logged into is taken up to that size). An existing
    // name at `localPath` is never written through (see CDownloadFiles); with `replace` a plain file there is
    // replaced by the new one once that is complete, else it is left as it is and the download refused. A broken
    // transfer leaves the partial file and "<localPath>.part.src" (name, size, time); a later download resumes from
    // there only when the receiver's listing still gives that name, size and time. While the transfer runs, other
    // commands fail.
    //
    // Progress reaches the callbacks attached with the message set "WL" (the link's own notices, nothing is sent
    // to the receiver for it), on the link's thread: "IN:" now and then (GetDownloadReceived() tells how far),
    // then one final notice, "RE:<bytes> bytes[ (note)]" or "ER:Aborted: <why>", the text from byte 3.
    int DownloadFile(const QString& name, const QString& localPath, int blockSize, bool replace = false);
    // Aborts a running download; its final notice follows once the line is quiet, within kDrainLimitMs.
    void CancelDownload();
    bool IsDownloading() const;
    // The size of the file in transfer (from when DownloadFile returned) and the bytes received so far,
    // counting a resumed download's earlier part.
    int64_t GetDownloadSize() const;
    int64_t GetDownloadReceived() const;

private:
    std::unique_ptr<ReceiverLink> m_link;
};
