#pragma once

#include "app/ReceiverState.h"
#include "link/AutoResetEvent.h"
#include "link/Checksum.h"
#include "link/GpsData.h"

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <vector>

// One epoch of the live view, without threads or widgets: the message table the receiver link fills, the copy of
// its buffers under the connection's lock, and the decoding of the copies into the receiver state. The
// connection thread drives it; tests and benchmarks drive it directly:
//
//     CEpochDispatcher d;
//     d.Feed(rawMessage);          // as the link does: "||", "MS", "SG", "XA", "XB" keep all, others the newest
//     ...
//     std::mutex lock;
//     d.TakeEpoch(lock);           // copy + count + decode (or reset)
//     d.Snapshot();                // the texts the view shows
class CEpochDispatcher
{
public:
    // An epoch that brought this many message types or fewer holds no usable data.
    static constexpr int kSparseTypes = 7;
    static constexpr int kSeKeep = 5;

    enum class Result { Dispatched, NoData };

    CEpochDispatcher();
    CEpochDispatcher(const CEpochDispatcher&) = delete;
    CEpochDispatcher& operator=(const CEpochDispatcher&) = delete;

    // The table given to CReceiver::Attach; it must outlive the attachment.
    GpsDataTable& Table() { return m_table; }
    // The epoch-end event. Armed (put into the first entry) under `lock` once the stream runs, disarmed after.
    CAutoResetEvent& Event() { return m_event; }
    void ArmEvent(std::mutex& lock);
    void DisarmEvent(std::mutex& lock);

    // Under `lock`, moves every non-empty buffer into a private copy and counts them. More than kSparseTypes:
    // decodes every copied message in table order while `running` (null: always) holds. Otherwise resets the
    // status and sets no-data.
    Result TakeEpoch(std::mutex& lock, const std::atomic<bool>* running = nullptr);
    // No epoch end in time: the status is reset and no-data set.
    void OnTimeout();
    // Empties the buffers and resets the status (a new connection starts clean).
    void Clear(std::mutex& lock);
    // Message types of the last epoch taken.
    int LastCount() const { return m_lastCount; }

    // Puts one raw message into the table the way the receiver link does (no lock: tests and benchmarks).
    void Feed(const QByteArray& message);

    CReceiverState& State() { return m_state; }
    const StatusSnapshot& Snapshot() const { return m_state.Snapshot(); }
    // The body bytes kept from the last "SE".
    const QByteArray& LastSe() const { return m_se; }

    // Calls `handler` for each whole message of a buffer that may hold several (identifier, three hex length
    // digits, body), skipping line ends between them; stops at the first malformed or cut-off one.
    template <typename F>
    static void ForEachMessage(const QByteArray& buffer, F&& handler);

private:
    void Decode(const QByteArray& message);

    GpsDataTable m_table;
    std::vector<QByteArray> m_copies;
    CReceiverState m_state;
    CAutoResetEvent m_event;
    QByteArray m_se;
    int m_lastCount = 0;
};

template <typename F>
void CEpochDispatcher::ForEachMessage(const QByteArray& buffer, F&& handler)
{
    const int size = int(buffer.size());
    int pos = 0;
    while (pos < size) {
        const char c = buffer[pos];
        if (c == '\r' || c == '\n') {
            ++pos;
            continue;
        }
        if (size - pos < 5) {
            return;
        }
        int len = 0;
        for (int i = pos + 2; i < pos + 5; ++i) {
            const int d = HexDigitValue(buffer[i]);
            if (d < 0) {
                return;
            }
            len = len * 16 + d;
        }
        if (size - pos - 5 < len) {
            return;
        }
        handler(buffer.mid(pos, 5 + len));
        pos += 5 + len;
    }
}
