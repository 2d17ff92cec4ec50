#include "server/ClientSession.h"

#include "server/MessageStore.h"
#include "server/ReceiverServer.h"
#include "server/ServedReceiver.h"
#include "server/UserStore.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpSocket>
#include <QTimer>

Q_LOGGING_CATEGORY(lcSession, "nemola.server")

using namespace ServerWire;

namespace {

// A number as the protocol writes it: decimal digits only, no sign, blank, base prefix or exponent.
bool ParseCount(const QString& text, qint64& value)
{
    if (text.isEmpty() || text.size() > 18) {
        return false;
    }
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    value = text.toLongLong();
    return true;
}

}  // namespace

struct CClientSession::Upload
{
    std::unique_ptr<CMessageStore::CUpload> file;
};

CClientSession::CClientSession(CReceiverServer* server, QTcpSocket* socket, QString address)
    : QObject(server),
      m_server(server),
      m_socket(socket),
      m_tick(new QTimer(this)),
      m_loginDeadline(new QTimer(this)),
      m_address(std::move(address))
{
    m_socket->setParent(this);
    if (m_server->Config().sendBufferBytes > 0) {
        m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(m_server->Config().sendBufferBytes));
    }
    m_sessionId = QString::fromLatin1(RandomBytes(9).toBase64(QByteArray::Base64UrlEncoding));
    connect(m_socket, &QTcpSocket::readyRead, this, &CClientSession::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { Drop(QStringLiteral("disconnected")); });
    connect(m_tick, &QTimer::timeout, this, &CClientSession::OnTick);
    m_tick->start(kHeartbeatMs);
    m_loginDeadline->setSingleShot(true);
    connect(m_loginDeadline, &QTimer::timeout, this, [this] { Drop(QStringLiteral("no login in time")); });
    m_loginDeadline->start(m_server->Limits().helloTimeoutMs);
    m_sinceHeard.start();
    // Over TLS this waits in the socket until the handshake is done.
    Send(kHello, "nemola-server/1");
}

CClientSession::~CClientSession() = default;

QString CClientSession::FailureKey() const
{
    // By the address the connection limits count: one IPv6 site has a whole /64 to guess from.
    return m_user + QLatin1Char('@') + m_address;
}

void CClientSession::Send(char type, const QByteArray& payload)
{
    if (m_state == State::Closed) {
        return;
    }
    // Bounded by the limit plus one frame: a client that does not read is let go instead of filling memory.
    if (m_socket->bytesToWrite() > m_server->Config().maxQueueBytes) {
        Drop(QStringLiteral("does not read its output"));
        return;
    }
    m_socket->write(Frame(type, payload));
}

void CClientSession::SendData(const QByteArray& bytes)
{
    Send(kData, bytes);
}

void CClientSession::SendNotice(int code, const QString& text)
{
    Send(kNotice, QByteArray::number(code) + ' ' + text.toUtf8());
}

void CClientSession::Finish()
{
    if (m_state == State::Closed) {
        return;
    }
    m_state = State::Closed;
    m_tick->stop();
    if (m_receiver) {
        m_receiver->Detach(this);
        m_receiver = nullptr;
    }
    m_uploads.clear();
    m_server->Forget(this);
    // What is queued still goes out; a peer that never takes it is cut off after a while.
    m_socket->disconnect(this);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    QTimer::singleShot(kSilenceMs, this, &QObject::deleteLater);
    m_socket->disconnectFromHost();
}

void CClientSession::Drop(const QString& why)
{
    if (m_state == State::Closed) {
        return;
    }
    qCInfo(lcSession).noquote() << "client" << m_socket->peerAddress().toString()
                                << (m_user.isEmpty() ? QString() : m_user) << "dropped:" << why;
    m_state = State::Closed;
    m_tick->stop();
    if (m_receiver) {
        m_receiver->Detach(this);
        m_receiver = nullptr;
    }
    m_uploads.clear();
    m_socket->disconnect(this);
    m_socket->abort();
    m_server->Forget(this);
    deleteLater();
}

void CClientSession::OnTick()
{
    if (!LoggedIn()) {
        return;
    }
    if (m_sinceHeard.elapsed() > kSilenceMs) {
        Drop(QStringLiteral("silent"));
    } else {
        Send(kBeat, {});
    }
}

void CClientSession::OnReadyRead()
{
    m_sinceHeard.restart();
    m_reader.Append(m_socket->readAll());
    char type = 0;
    QByteArray payload;
    while (m_state != State::Closed) {
        const auto r = m_reader.Next(type, payload);
        if (r == CFrameReader::Result::Need) {
            // Before login nothing long is expected: a peer that sends a big blob there is not a client.
            if (!LoggedIn() && m_reader.Buffered() > 4096) {
                Drop(QStringLiteral("garbage before login"));
            }
            return;
        }
        if (r == CFrameReader::Result::Bad) {
            Drop(QStringLiteral("garbage"));
            return;
        }
        OnFrame(type, payload);
    }
}

void CClientSession::OnFrame(char type, const QByteArray& payload)
{
    if (type == kBeat) {
        return;
    }
    switch (m_state) {
        case State::User:
            type == kUser ? OnUser(payload) : Drop(QStringLiteral("protocol error"));
            return;
        case State::Proof:
            type == kProof ? OnProof(payload) : Drop(QStringLiteral("protocol error"));
            return;
        case State::Ready:
            if (type == kRequest) {
                OnRequest(payload);
            } else if (type == kOpen) {
                OnOpen(payload);
            } else {
                Drop(QStringLiteral("protocol error"));
            }
            return;
        case State::Relay:
            if (type != kData || !m_receiver || !m_receiver->FromClient(this, payload)) {
                Drop(QStringLiteral("protocol error"));
            }
            return;
        case State::Refusing:
        case State::Closed:
            return;
    }
}

void CClientSession::OnUser(const QByteArray& payload)
{
    QStringList w;
    QByteArray body;
    if (!Unpack(payload, w, body) || w.size() != 2) {
        Drop(QStringLiteral("broken login"));
        return;
    }
    m_user = w[0];
    m_clientNonce = QByteArray::fromBase64(w[1].toLatin1());
    if (!IsValidUserName(m_user) || m_clientNonce.size() < 8 || m_clientNonce.size() > 64) {
        Refuse(QStringLiteral("Wrong user name or password"), m_server->Limits().firstLoginDelayMs);
        return;
    }
    m_nonce = m_clientNonce + RandomBytes(kNonceBytes);
    Send(kSalt, Pack({QString::fromLatin1(m_server->Salt(m_user).toBase64()),
                      QString::number(m_server->Iterations(m_user)), QString::fromLatin1(m_nonce.toBase64())}));
    m_state = State::Proof;
    // The client now derives its keys, which takes long on a slow handheld at a high iteration count.
    m_loginDeadline->start(m_server->Limits().proofTimeoutMs);
}

void CClientSession::OnProof(const QByteArray& payload)
{
    const QString key = FailureKey();
    if (m_server->LockedOut(key)) {
        Refuse(QStringLiteral("Too many wrong passwords; try again later"), m_server->Limits().maxLoginDelayMs);
        return;
    }
    const CUserStore::User* user = m_server->Users().Find(m_user);
    const QByteArray auth = AuthMessage(m_user, m_clientNonce, m_nonce);
    // The proof is bare base64 text; a word line that holds it is taken too, as every other login frame is one.
    QByteArray proof = payload;
    QStringList w;
    QByteArray body;
    if (payload.contains('\n') && Unpack(payload, w, body)) {
        proof = w.value(0).toLatin1();
    }
    if (!user || !VerifyProof(user->storedKey, auth, QByteArray::fromBase64(proof))) {
        const int delay = m_server->LoginDelayMs(key);
        m_server->CountFailure(key);
        qCWarning(lcSession).noquote() << "wrong password for" << m_user << "from"
                                       << m_socket->peerAddress().toString();
        Refuse(QStringLiteral("Wrong user name or password"), delay);
        return;
    }
    m_server->ClearFailures(key);
    m_loginDeadline->stop();
    Send(kWelcome, Pack({QString::fromLatin1(ServerSignature(user->serverKey, auth).toBase64()), m_sessionId}));
    m_state = State::Ready;
    qCInfo(lcSession).noquote() << m_user << "logged in from" << m_socket->peerAddress().toString();
    if (m_server->Store().HasUnread(m_user)) {
        SendNotice(254, QStringLiteral("You have new message"));
    }
}

void CClientSession::Refuse(const QString& why, int delayMs)
{
    // The verdict waits on a timer, never on a sleeping thread, so other clients are served meanwhile.
    m_state = State::Refusing;
    m_loginDeadline->stop();
    QTimer::singleShot(delayMs, this, [this, why] {
        if (m_state == State::Refusing) {
            m_socket->write(Frame(kRefused, why.toUtf8()));
            Finish();
        }
    });
}

void CClientSession::Answer(const QString& id, bool ok, const QStringList& words, const QByteArray& body)
{
    Send(kAnswer, Pack(QStringList{id, ok ? QStringLiteral("OK") : QStringLiteral("ER")} + words, body));
}

void CClientSession::OnOpen(const QByteArray& payload)
{
    QStringList w;
    QByteArray body;
    CServedReceiver* receiver = Unpack(payload, w, body) ? m_server->Receiver(w.value(0)) : nullptr;
    if (!receiver) {
        Send(kAnswer, Pack({QStringLiteral("ER"), QStringLiteral("No receiver \"%1\" at the server").arg(w.value(0))}));
        return;
    }
    // A relay connection is no control session: the status texts of the attach go to the user's others only.
    m_state = State::Relay;
    const QString role = receiver->Attach(this);
    if (role.isEmpty()) {
        m_state = State::Ready;
        Send(kAnswer, Pack({QStringLiteral("ER"), QStringLiteral("The receiver %1 is not reachable").arg(w[0])}));
        return;
    }
    m_receiver = receiver;
    Send(kAnswer, Pack({QStringLiteral("OK"), role}));
    qCInfo(lcSession).noquote() << m_user << "opened" << w[0] << "as" << role;
}

void CClientSession::OnRequest(const QByteArray& payload)
{
    QStringList w;
    QByteArray body;
    if (!Unpack(payload, w, body) || w.size() < 2) {
        Drop(QStringLiteral("broken request"));
        return;
    }
    const QString id = w.takeFirst();
    const QString verb = w.takeFirst();
    CMessageStore& store = m_server->Store();
    QString error;
    if (verb == QLatin1String("RCVLIST") && w.isEmpty()) {
        Answer(id, true, {}, m_server->ReceiverNames().join(QLatin1Char('\n')).toUtf8());
    } else if (verb == QLatin1String("USRLIST") && w.isEmpty()) {
        QByteArray list;
        for (const QString& name : m_server->Users().Names()) {
            list += name.toUtf8() + (name == m_user ? "/m\n" : "/e\n");
        }
        Answer(id, true, {}, list);
    } else if (verb == QLatin1String("MSGLIST") && w.isEmpty()) {
        QByteArray list;
        for (const auto& m : store.List(m_user)) {
            list += Pack({m.name, m.date.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), QString::number(m.size),
                          m.from, m.subject});
        }
        Answer(id, true, {}, list);
    } else if (verb == QLatin1String("GETMSG") && w.size() == 3) {
        GetMessage(id, w[0], w[1], w[2]);
    } else if (verb == QLatin1String("SEND") && w.size() == 4) {
        qint64 size = 0;
        if (!m_server->Users().Find(w[0])) {
            Answer(id, false, {QStringLiteral("No user \"%1\"").arg(w[0])});
        } else if (!ParseCount(w[3], size)) {
            Answer(id, false, {QStringLiteral("Invalid size")});
        } else if (size > m_server->Config().maxMessageBytes) {
            Answer(id, false, {QStringLiteral("The message is too large")});
        } else if (m_uploads.size() >= kMaxUploads) {
            Answer(id, false, {QStringLiteral("Too many messages under way")});
        } else {
            auto up = std::make_shared<Upload>();
            up->file = store.Begin(w[0], m_user, w[1], w[2], size, &error);
            if (!up->file) {
                Answer(id, false, {error});
                return;
            }
            const QString uploadId = QString::number(m_nextUpload++);
            m_uploads.insert(uploadId, up);
            // The first chunk rides on the request itself.
            Receive(id, uploadId, body);
        }
    } else if (verb == QLatin1String("DATA") && w.size() == 1) {
        Receive(id, w[0], body);
    } else if (verb == QLatin1String("ABORT") && w.size() == 1) {
        m_uploads.remove(w[0]) ? Answer(id, true, {QStringLiteral("Aborted")})
                               : Answer(id, false, {QStringLiteral("No such transfer")});
    } else if (verb == QLatin1String("DELMSG") && w.size() == 1) {
        // Only the user's own mailbox is ever looked at.
        store.Remove(m_user, w[0], &error) ? Answer(id, true, {}) : Answer(id, false, {error});
    } else {
        Answer(id, false, {QStringLiteral("Unknown request")});
    }
}

void CClientSession::GetMessage(const QString& id, const QString& name, const QString& offsetText,
                                const QString& lengthText)
{
    CMessageStore& store = m_server->Store();
    qint64 offset = 0;
    qint64 length = 0;
    CMessageStore::Message m;
    QByteArray bytes;
    QString error;
    if (!ParseCount(offsetText, offset)) {
        Answer(id, false, {QStringLiteral("Invalid offset")});
    } else if (!ParseCount(lengthText, length)) {
        Answer(id, false, {QStringLiteral("Invalid length")});
    } else if (!store.Find(m_user, name, m)) {
        Answer(id, false, {QStringLiteral("No message \"%1\"").arg(name)});
    } else if (!store.Read(m_user, name, offset, std::min<qint64>(length, kChunkBytes), bytes, &error)) {
        Answer(id, false, {error});
    } else {
        if (offset + bytes.size() == m.size) {
            store.MarkRead(m_user, name);
        }
        Answer(id, true, {QString::number(m.size), m.subject}, bytes);
    }
}

void CClientSession::Receive(const QString& id, const QString& uploadId, const QByteArray& body)
{
    CMessageStore& store = m_server->Store();
    QString error;
    auto it = m_uploads.find(uploadId);
    if (it == m_uploads.end()) {
        Answer(id, false, {QStringLiteral("No such transfer")});
        return;
    }
    auto up = it.value();
    if (!up->file->Append(body, &error)) {
        m_uploads.erase(it);
        Answer(id, false, {error});
        SendNotice(251, QStringLiteral("error ") + error);
        return;
    }
    if (up->file->Received() < up->file->Size()) {
        SendNotice(251, QStringLiteral("progress %1/%2").arg(up->file->Received()).arg(up->file->Size()));
        Answer(id, true, {QStringLiteral("Receiving"), uploadId});
        return;
    }
    const QString name = up->file->Meta().name;
    const QString to = up->file->To();
    const bool committed = store.Commit(*up->file, &error);
    m_uploads.erase(it);
    if (!committed) {
        Answer(id, false, {error});
        SendNotice(251, QStringLiteral("error ") + error);
        return;
    }
    qCInfo(lcSession).noquote() << m_user << "sent" << name << "to" << to;
    Answer(id, true, {QStringLiteral("Message sent to %1").arg(to)});
    SendNotice(251, QStringLiteral("done Message sent to %1").arg(to));
    m_server->Notify(to, 254, QStringLiteral("New message from %1").arg(m_user));
}
