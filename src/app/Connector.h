#pragma once

#include <QObject>
#include <QString>

#include <optional>
#include <thread>

class CConnection;
class CReceiverHolder;
class ITickSource;
struct ConnectionState;

// Reaches the receiver named in the connection state and identifies it, on a thread of its own so that the GUI
// keeps painting while the link waits. The caller owns the state and the GUI: the thread reports pane 0 texts
// through StatusText and hands everything else back in one piece, which is applied to the state on the GUI thread
// before Finished is emitted.
//
// This is the first half of the connection thread: opening the message stream and dispatching epochs belong here
// once they exist, behind the same Start / Stop pair.
class CConnector : public QObject
{
    Q_OBJECT

public:
    // The identification batch run right after the receiver opens.
    static const QString kIdentifyBatch;

    CConnector(ConnectionState& state, CReceiverHolder& holder, const ITickSource& tick, QObject* parent = nullptr);
    ~CConnector() override;

    // GUI thread. Starts connecting to state.receiverName with the state's texts; `connecting` must be set by the
    // caller. Creates the connection object first when there is none.
    void Start();
    // GUI thread. Clears `running` and closes the shared receiver; the caller resets its displays.
    void Stop();
    bool IsBusy() const { return m_thread.has_value(); }
    // Counts the connection objects made; a report that arrives after its connection was replaced is stale.
    int Generation() const { return m_generation; }
    // Waits for a connect under way and applies its result (tests; shutdown).
    void WaitFinished();

signals:
    // A pane 0 text; emitted from the connect thread or the link's thread.
    void StatusText(const QString& text);
    // GUI thread, after the result is in the state: `ok` when the receiver is open and identified.
    void Finished(bool ok);
    // The link to the receiver or server went away; emitted from the link's thread with the reason and the
    // generation of the connection that lost it.
    void LinkLost(const QString& why, int generation);
    // The manual-only connection asks for the manual-mode command.
    void ManualModeRequested();
    // The server announced new user messages.
    void NewUserMessage();
    // The frame title, computed from the identification and the receiver's modes.
    void TitleChanged(const QString& title);

private:
    struct Outcome
    {
        bool ok = false;
        bool dropConnection = false;
        bool manualOnly = false;
        QString lastError;
        std::optional<QString> firmware;
        std::optional<QString> model;
        std::optional<QString> currentPort;
        std::optional<QString> receiverId;
        QString baseMode;
        QString roverMode;
    };

    struct Request
    {
        CConnection* connection = nullptr;
        bool openConnection = false;
        QString receiverName;
        QString server;
        QString user;
        QString password;
        bool manualOnly = false;
    };

    Outcome Run(const Request& request);
    void Apply(const Outcome& outcome);
    void InstallSystemMessageHandler(CConnection* connection);
    // The value of a single print, or empty when it got no answer.
    QString ReadMode(const QString& command);

    ConnectionState& m_state;
    CReceiverHolder& m_holder;
    const ITickSource& m_tick;
    std::optional<std::thread> m_thread;
    int m_generation = 0;
};
