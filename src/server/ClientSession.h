#pragma once

#include "link/ServerWire.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <memory>

class CReceiverServer;
class CServedReceiver;
class QTcpSocket;
class QTimer;

// One client connection: login, then either requests (the control session of a program) or the relay of one
// receiver. Output beyond the configured queue size drops the client, so a client that does not read never
// holds up the others.
class CClientSession : public QObject
{
public:
    // A logged-in client silent this long (no heartbeat) is dropped.
    static constexpr int kSilenceMs = 10000;
    static constexpr int kMaxUploads = 4;

    // `address` is the peer's address as the server's limits count it.
    CClientSession(CReceiverServer* server, QTcpSocket* socket, QString address);
    ~CClientSession() override;

    const QString& User() const { return m_user; }
    const QString& Address() const { return m_address; }
    bool IsControl() const { return m_state == State::Ready; }
    bool LoggedIn() const { return m_state == State::Ready || m_state == State::Relay; }
    // Relayed receiver bytes and notices.
    void SendData(const QByteArray& bytes);
    void SendNotice(int code, const QString& text);
    // Closes the connection after what is queued; ends the session.
    void Finish();
    void Drop(const QString& why);

private:
    enum class State { User, Proof, Refusing, Ready, Relay, Closed };
    struct Upload;

    void Send(char type, const QByteArray& payload);
    void OnReadyRead();
    void OnFrame(char type, const QByteArray& payload);
    void OnTick();
    void OnUser(const QByteArray& payload);
    void OnProof(const QByteArray& payload);
    void Refuse(const QString& why, int delayMs);
    void OnRequest(const QByteArray& payload);
    void GetMessage(const QString& id, const QString& name, const QString& offset, const QString& length);
    void Receive(const QString& id, const QString& uploadId, const QByteArray& body);
    void OnOpen(const QByteArray& payload);
    void Answer(const QString& id, bool ok, const QStringList& words, const QByteArray& body = {});
    QString FailureKey() const;

    CReceiverServer* m_server;
    QTcpSocket* m_socket;
    QTimer* m_tick;
    QTimer* m_loginDeadline;
    QString m_address;
    ServerWire::CFrameReader m_reader;
    State m_state = State::User;
    QString m_user;
    QByteArray m_clientNonce;
    QByteArray m_nonce;
    QString m_sessionId;
    CServedReceiver* m_receiver = nullptr;
    QElapsedTimer m_sinceHeard;
    QHash<QString, std::shared_ptr<Upload>> m_uploads;
    int m_nextUpload = 1;
};
