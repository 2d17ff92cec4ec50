#pragma once

#include "link/ServerWire.h"
#include "link/Transport.h"

#include <QElapsedTimer>

class QTcpSocket;
class QTimer;

// Where a receiver server is and who logs in; "host:port", or "tls://host:port" for an encrypted server whose
// certificate must verify (the system's authorities, plus the file named by NEMOLA_SERVER_CA when set).
struct ServerLogin
{
    QString server;
    QString user;
    QString password;
};

// One logged-in connection to a receiver server: the login, heartbeats both ways and a silence watch, then
// frames. Lives on the thread that opens it.
class CServerLink : public QObject
{
    Q_OBJECT
public:
    // Each of the server's two answers (the salt, then the welcome) is awaited this long; the key derivation
    // between them is this side's own work and may take up to kMaxDerivationMs at the highest iteration count on a
    // slow handheld, as the server allows for.
    static constexpr int kLoginTimeoutMs = 10000;
    static constexpr int kMaxDerivationMs = 60000;

    explicit CServerLink(ServerLogin login, QObject* parent = nullptr);
    ~CServerLink() override;
    void Open();
    void Close();
    void Send(char type, const QByteArray& payload);
    QString SessionId() const { return m_sessionId; }

signals:
    void LoggedIn();
    void Failed(const QString& why);
    void FrameIn(char type, const QByteArray& payload);
    // A logged-in link was lost (closed, or silent beyond ServerWire::kPeerSilenceMs); reported once.
    void Lost(const QString& why);

private:
    enum class State { Closed, Connecting, Hello, Salt, Welcome, Open };
    void OnReadyRead();
    void OnFrame(char type, const QByteArray& payload);
    void OnTick();
    void Fail(const QString& why);

    ServerLogin m_login;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_tick = nullptr;
    State m_state = State::Closed;
    ServerWire::CFrameReader m_reader;
    QByteArray m_clientNonce;
    QByteArray m_authMessage;
    QByteArray m_serverKey;
    QString m_sessionId;
    QElapsedTimer m_sinceHeard;
    QElapsedTimer m_sinceStart;
};

// A receiver behind a receiver server: its bytes travel in data frames of a logged-in link.
class CServerTransport : public CTransport
{
    Q_OBJECT
public:
    CServerTransport(ServerLogin login, QString receiver, QObject* parent = nullptr);
    void Open() override;
    void Close() override;
    void Write(const QByteArray& bytes) override;
    uint8_t DropCode() const override { return m_receiverLost ? 247 : 255; }

private:
    void OnFrame(char type, const QByteArray& payload);

    CServerLink* m_link;
    QString m_receiver;
    bool m_open = false;
    bool m_done = false;
    bool m_receiverLost = false;
};

// "host:port" or "tls://host:port" split; false for anything else.
bool ParseServerAddress(const QString& server, QString& host, quint16& port, bool& tls);
