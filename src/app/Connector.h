#pragma once

#include "app/EpochDispatcher.h"
#include "app/ReceiverState.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

class CConnection;
class CReceiverHolder;
class ITickSource;
struct ConnectionState;

// The connection thread: opens the connection and the receiver named in the connection state, identifies the
// receiver, starts its message stream into the message table and dispatches each epoch to the receiver state.
// It never touches a widget: pane 0 texts, the status snapshot of each epoch, the drop-connection request and the
// manual-mode request reach the GUI thread through queued signals.
//
// Flags: the caller sets `connecting` before Start(); the thread sets `running` and clears `connecting` once the
// stream runs, or clears `connecting` when it fails (after DropConnection). Stop() ends a running thread.
class CConnector : public QObject
{
    Q_OBJECT

public:
    // The identification batch run right after the receiver opens.
    static const QString kIdentifyBatch;
    // No epoch end for this long resets the display.
    static constexpr int kEpochTimeoutMs = 1999;
    // Stop() waits for the thread in steps of this long, handling window events between them.
    static constexpr int kStopStepMs = 500;

    CConnector(ConnectionState& state, CReceiverHolder& holder, const ITickSource& tick, QObject* parent = nullptr);
    // Stops a thread still running (exit).
    ~CConnector() override;

    // GUI thread. Creates the connection object when there is none and starts the thread. `connecting` must be set.
    void Start();
    // GUI thread. Clears `running`, wakes the thread and waits for it to end, handling window events between the
    // steps of the wait unless `pumpEvents` is false (exit).
    void Stop(bool pumpEvents = true);
    // A thread exists (connecting, running the stream, or ended but not yet collected).
    bool IsBusy() const { return m_thread.has_value(); }
    // Joins a thread that has ended; with `wait`, first waits for one that is about to (a failed or manual-only
    // connect, which ends right after reporting). False when a thread is still running.
    bool CollectEndedThread(bool wait = false);
    // Counts the connection objects made; a report that arrives after its connection was replaced is stale.
    int Generation() const { return m_generation; }
    // Counts the thread runs; a snapshot of an earlier run is stale.
    int Session() const { return m_session; }

    // Waits, handling window events, until the connect under way has succeeded or failed (tests; shutdown).
    void WaitFinished(int timeoutMs = 30000);

    // The state the thread decodes into; the GUI thread may use it only while no thread runs.
    CEpochDispatcher& Dispatcher() { return m_dispatcher; }
    // The target position in radians; taken by the thread at its next epoch (any thread).
    void SetTarget(double latRad, double lonRad);
    // Shorter epoch time-outs for tests.
    void SetEpochTimeoutMs(int ms) { m_epochTimeoutMs = ms; }

signals:
    // A pane 0 text.
    void StatusText(const QString& text);
    // The receiver's or the connection's own error text of a failed step.
    void LastError(const QString& text);
    // Show or hide the view's "Stop" button.
    void StopButtonVisible(bool visible);
    // The connect ended: `ok` when the stream runs (or the manual-only receiver answered).
    void Finished(bool ok);
    // The connection object of `generation` is to be dropped, so that the next connect creates a new one.
    void DropConnection(int generation);
    // The status after an epoch, a sparse epoch or a time-out, of thread run `session`.
    void SnapshotReady(const StatusSnapshot& snapshot, int session);
    // The link to the receiver or server went away; emitted from the link's thread with the reason and the
    // generation of the connection that lost it.
    void LinkLost(const QString& why, int generation);
    // The manual-only connection asks for the manual-mode command.
    void ManualModeRequested();
    // The server announced new user messages.
    void NewUserMessage();
    // A transfer notice of the server (system message 251) for the "Message" window.
    void TransferNotice(const QString& notice);
    // The frame title, computed from the identification and the receiver's modes.
    void TitleChanged(const QString& title);

private:
    struct Request
    {
        CConnection* connection = nullptr;
        bool openConnection = false;
        int generation = 0;
        int session = 0;
        QString receiverName;
        QString server;
        QString user;
        QString password;
        bool manualOnly = false;
    };

    void Run(const Request& request);
    // Steps up to the running stream; false when the connect failed.
    bool Connect(const Request& request);
    void Loop(const Request& request);
    void Fail(const Request& request, const QString& status, const QString& lastError);
    void InstallSystemMessageHandler(CConnection* connection);
    void ApplyPendingTarget();
    // Sets the epoch event so that the thread looks at its flags.
    void WakeLoop();
    // The value of a single print, or empty when it got no answer.
    QString ReadMode(const QString& command);

    ConnectionState& m_state;
    CReceiverHolder& m_holder;
    const ITickSource& m_tick;
    CEpochDispatcher m_dispatcher;
    std::optional<std::thread> m_thread;
    int m_generation = 0;
    int m_session = 0;
    int m_epochTimeoutMs = kEpochTimeoutMs;

    std::mutex m_doneMutex;
    std::condition_variable m_doneCv;
    bool m_done = false;
    // Set by the thread once it has posted the outcome of a connect that got through, so that a waiter that
    // delivers posted events afterwards is sure to deliver it.
    std::atomic<bool> m_reported{false};

    std::mutex m_targetMutex;
    std::optional<std::pair<double, double>> m_pendingTarget;
};
