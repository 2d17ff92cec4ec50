#pragma once

#include "link/InProcessDevice.h"
#include "sim/MessageGenerator.h"
#include "sim/ParamStore.h"
#include "sim/SimFiles.h"
#include "sim/SimMessages.h"
#include "sim/Simulator.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>

// Inside the simulator library only: the receiver's state, shared by CSimReceiver, its sessions and the
// command interpreter. Every member is guarded by `mutex`; sinks are called with it held (they must not call
// back into the receiver), which is what makes a closed session never hear from the receiver again.
struct SimSession
{
    int id = 0;
    QString port;  // "/dev/ser/a", "/dev/tcp/b", ...
    IInProcessDevice::Sink sink;
    QByteArray line;  // input since the last line end
    bool lineTooLong = false;
    bool alive = true;  // false once dropped: no output, input ignored
    // A running "get": input bytes answer its blocks, and the port's message output waits.
    std::shared_ptr<SimTransfer> transfer;
};

struct DelayedOutput
{
    int64_t dueMs;
    int sessionId;
    QByteArray bytes;
};

class CSimCore
{
public:
    static constexpr int kTickMs = 10;
    static constexpr int kMaxLine = 256;
    static constexpr int kMaxReplyBody = 0xFFF;
    // The record of received statements keeps this many of the newest.
    static constexpr int kMaxReceivedRecord = 400;
    // The receiver finishes sending the reply to a reset before it goes away.
    static constexpr int kShutdownDelayMs = 50;
    static constexpr int64_t kGpsMinusUtcMs = 18000;

    CSimCore(const SimOptions& options, std::unique_ptr<CParamStore> params);

    // All below: call with `mutex` held.
    int64_t Now() const;
    // When the next epoch of the real-time clock is due (no lock needed: `started` never changes).
    std::chrono::steady_clock::time_point NextTick() const;
    void Tick(int64_t nowMs);
    void Input(int sessionId, const QByteArray& bytes);
    std::shared_ptr<SimSession> OpenSession(const QString& port, IInProcessDevice::Sink sink, QString* error);
    void CloseSession(int sessionId);
    void DropAll(const QString& why);
    bool PortBusy(const QString& port) const;
    static QStringList PortPaths();  // every port a session or "em" may name
    bool IsPort(const QString& port) const;

    // Reply / message output of a session, through the fault filters.
    void SendReply(SimSession& session, const QByteArray& bytes);
    void SendMessages(SimSession& session, QByteArray bytes);

    // Receiver time.
    int64_t UtcMs(int64_t nowMs) const { return startUtcMs + nowMs; }
    // The receiver's state as the message generator reads it.
    ReceiverStatus Status() const;

    enum class Reboot { None, Reset, ClearNvram };
    void ScheduleReboot(Reboot kind);

    mutable std::mutex mutex;
    SimOptions options;
    std::unique_ptr<CParamStore> params;
    std::mt19937 rng;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    int64_t virtualNowMs = 0;
    int64_t startUtcMs = 0;
    int64_t lastEpochMs = 0;
    int64_t bootMs = 0;  // when the receiver last came up
    int64_t trackingSinceMs = 0;
    bool almanacValid = true;
    std::unique_ptr<CMessageGenerator> generator;

    // Reboot: the receiver goes down at `downAtMs`, is away until `awayUntilMs`.
    Reboot pendingReboot = Reboot::None;
    int64_t downAtMs = -1;
    int64_t awayUntilMs = -1;
    bool away = false;

    std::map<int, std::shared_ptr<SimSession>> sessions;
    int nextSessionId = 1;
    std::map<QString, PortOutputs> outputs;  // port -> enabled messages
    // port -> message paths in the order "em" enabled them (a port's message list is printed in that order);
    // paths no longer in `outputs` are skipped and dropped at the next "em".
    std::map<QString, QStringList> outputOrder;
    // A session's peer as the network status shows it: every client is local here, its port made from the session
    // id ("127.0.0.1:40003").
    QString PeerText(const SimSession& session) const;
    QStringList events;  // texts of "event"

    // Fault injection.
    QSet<QString> refused;
    QSet<QString> hidden;  // paths the receiver behaves as if it did not have
    QSet<QString> kept;    // a valid "set" is answered as done and changes nothing
    bool withholdReplies = false;
    int replyDelayMs = 0;
    bool corruptOutput = false;
    bool refuseEvents = false;
    bool withholdEpochEnds = false;
    int64_t silentUntilMs = -1;  // a gap in the output: no message before this time
    std::deque<DelayedOutput> delayed;
    SimFiles files;
    QStringList received;

private:
    void EmitEpoch(int64_t t);
    QByteArray ForeignOutput(const std::vector<QString>& paths, int64_t t, const ReceiverStatus& status);
    // The period a message is output at, after the options' epoch rate.
    int64_t OutputPeriod(int64_t periodMs) const;
    void GoDown();
    void ComeBack();
};
