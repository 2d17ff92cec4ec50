#include "server/ServedReceiver.h"

#include "server/ClientSession.h"
#include "server/ReceiverServer.h"

#include "link/BlockReceiver.h"
#include "link/ReceiverName.h"
#include "link/Transports.h"

#include <QLoggingCategory>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace {

quint16 IdOf(const QByteArray& name)
{
    static const QHash<QByteArray, QByteArray> kNamed = {{"RT", "~~"}, {"ET", "::"}, {"EV", "=="}, {"EE", "||"}};
    const QByteArray id = kNamed.value(name, name);
    return id.size() == 2 ? quint16((quint8(id[0]) << 8) | quint8(id[1])) : 0;
}

// Splits a command line into statements at "&&" and ";" outside quotes.
QList<QByteArray> Statements(const QByteArray& line)
{
    QList<QByteArray> out;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ';') {
            out.append(line.mid(start, i - start).trimmed());
            start = i + 1;
        } else if (!quoted && c == '&' && i + 1 < line.size() && line[i + 1] == '&') {
            out.append(line.mid(start, i - start).trimmed());
            start = i + 2;
            ++i;
        }
    }
    out.append(line.mid(start).trimmed());
    return out;
}

struct Statement
{
    QByteArray tag;      // "%x%" or empty
    QByteArray command;  // lower case
    QByteArray port;
    QByteArray rest;  // after "<command>,<port>,"
};

Statement Parse(const QByteArray& text)
{
    Statement s;
    QByteArray body = text;
    if (body.startsWith('%')) {
        const qsizetype end = body.indexOf('%', 1);
        if (end > 0) {
            s.tag = body.left(end + 1);
            body = body.mid(end + 1);
        }
    }
    const qsizetype at = body.indexOf('@');
    if (at >= 0) {
        body.truncate(at);
    }
    const QList<QByteArray> parts = body.split(',');
    s.command = parts.value(0).trimmed().toLower();
    s.port = parts.value(1).trimmed();
    const qsizetype second = body.indexOf(',', body.indexOf(',') + 1);
    if (body.indexOf(',') >= 0 && second > 0) {
        s.rest = body.mid(second + 1).trimmed();
    }
    return s;
}

// A reply frame as the receiver writes it, for a statement the server answers itself.
void Reply(CClientSession* client, const QByteArray& kind, const QByteArray& tag, const QByteArray& text)
{
    const QByteArray body = tag + text;
    client->SendData(kind + QByteArray::number(body.size(), 16).toUpper().rightJustified(3, '0') + body + "\r\n");
}

// As the receiver does with errors: one ER per statement, tagged or not.
void Refuse(CClientSession* client, const QList<Statement>& statements, const QByteArray& why)
{
    for (const Statement& s : statements) {
        Reply(client, "ER", s.tag, why);
    }
}

// The receiver's own wait for a block answer, from "get,<file>[,offset]:{timeout,block size}".
int GetTimeoutS(const QByteArray& statement, int fallback)
{
    const qsizetype open = statement.lastIndexOf(":{");
    if (open < 0) {
        return fallback;
    }
    bool ok = false;
    const int seconds = statement.mid(open + 2).split(',').value(0).split('}').value(0).trimmed().toInt(&ok);
    return ok && seconds > 0 && seconds <= 600 ? seconds : fallback;
}

// The current port: "em,,x", "dm", "dm,/cur/term".
bool CurrentPort(const Statement& s)
{
    return s.port.isEmpty() || s.port == "/cur/term";
}

}  // namespace

void StreamFilter::Apply(const QByteArray& messages, bool add)
{
    QByteArray m = messages.trimmed();
    if (m.isEmpty()) {
        if (!add) {
            all = false;
            ids.clear();
        }
        return;
    }
    if (m.startsWith("/msg/")) {
        m = m.mid(5);
    }
    QList<QByteArray> names;
    if (m.startsWith("kvs{")) {
        const qsizetype close = m.indexOf('}');
        for (QByteArray item : m.mid(4, close < 0 ? -1 : close - 4).split(',')) {
            item = item.trimmed();
            if (item.startsWith('/')) {
                names.append(item.mid(1, 2));
            }
        }
    } else if (m.startsWith("kvs/")) {
        names.append(m.mid(4, 2));
    } else {
        // A predefined set ("def", "rtk/...") or another format: the client takes the whole stream.
        all = add;
        if (!add) {
            ids.clear();
        }
        return;
    }
    for (const QByteArray& n : names) {
        const quint16 id = IdOf(n);
        if (id && add) {
            ids.insert(id);
        } else if (id) {
            ids.remove(id);
        }
    }
}

CServedReceiver::CServedReceiver(QString name, QString address, QObject* parent)
    : QObject(parent),
      m_name(std::move(name)),
      m_address(std::move(address)),
      m_retry(new QTimer(this)),
      m_resync(new QTimer(this)),
      m_transferTimer(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &CServedReceiver::Connect);
    m_resync->setSingleShot(true);
    connect(m_resync, &QTimer::timeout, this, &CServedReceiver::OnResyncQuiet);
    m_transferTimer->setSingleShot(true);
    connect(m_transferTimer, &QTimer::timeout, this, &CServedReceiver::OnTransferQuiet);
}

CServedReceiver::~CServedReceiver()
{
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->Close();
    }
}

void CServedReceiver::Start()
{
    Connect();
}

void CServedReceiver::Connect()
{
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->Close();
        m_transport->deleteLater();
    }
    const ReceiverAddress address = ParseReceiverName(m_address);
    m_transport = CreateTransport(address, QString());
    if (!m_transport) {
        qCWarning(lcServer).noquote() << "receiver" << m_name << ": invalid address" << m_address;
        return;
    }
    m_transport->setParent(this);
    EndTransfer();
    connect(m_transport, &CTransport::Opened, this, [this] {
        m_up = true;
        qCInfo(lcServer).noquote() << "receiver" << m_name << "is up";
    });
    connect(m_transport, &CTransport::Failed, this, [this](const QString& why) { OnDown(why); });
    connect(m_transport, &CTransport::Dropped, this, [this](const QString& why) { OnDown(why); });
    connect(m_transport, &CTransport::Received, this, &CServedReceiver::OnReceived);
    m_transport->Open();
}

void CServedReceiver::OnDown(const QString& why)
{
    const bool wasUp = m_up;
    m_up = false;
    EndTransfer();
    if (wasUp) {
        qCWarning(lcServer).noquote() << "receiver" << m_name << "lost:" << why;
    }
    // Every client of the receiver is told and let go; they may open it again once it is back.
    const auto clients = m_clients;
    for (CClientSession* c : clients) {
        c->SendNotice(247, QStringLiteral("Receiver %1 lost: %2").arg(m_name, why));
        Detach(c);
        c->Finish();
    }
    m_retry->start(kRetryMs);
}

QString CServedReceiver::Attach(CClientSession* client)
{
    if (!m_up) {
        return {};
    }
    m_clients.append(client);
    m_filters.insert(client, StreamFilter{});
    if (!m_holder) {
        m_holder = client;
        return QStringLiteral("holder");
    }
    Tell(client, QStringLiteral("%1 = watching; %2 holds the receiver").arg(m_name, m_holder->User()));
    return QStringLiteral("watcher");
}

void CServedReceiver::Detach(CClientSession* client)
{
    if (!m_clients.removeOne(client)) {
        return;
    }
    m_filters.remove(client);
    m_lines.remove(client);
    for (auto it = m_tagOwner.begin(); it != m_tagOwner.end();) {
        it = it.value() == client ? m_tagOwner.erase(it) : std::next(it);
    }
    if (m_untaggedOwner == client) {
        m_untaggedOwner = nullptr;
    }
    if (m_replyOwner == client) {
        m_replyOwner = nullptr;
    }
    if (m_holder == client && (m_transfer == Transfer::Requested || m_transfer == Transfer::Active)) {
        // The receiver may be waiting inside a get for a holder that is gone: end it, and let its last block
        // pass before anyone's commands go out again. A line end after the abort is an empty line either way.
        if (m_up) {
            m_transport->Write(QByteArray(1, CBlockReceiver::kAbort) + "\r\n");
        }
        m_transfer = Transfer::Draining;
        m_transferTimer->start(kDrainQuietMs);
        m_drainClock.start();
    }
    if (m_holder == client) {
        // The longest watcher takes the command channel over, so the receiver is never left without one.
        m_holder = m_clients.isEmpty() ? nullptr : m_clients.first();
        if (m_holder) {
            Tell(m_holder, QStringLiteral("%1 = you hold the receiver now").arg(m_name));
        }
    }
    if (m_clients.isEmpty() && m_transport && m_up) {
        // Nobody listens: the receiver's port stops talking until the next client asks.
        m_transport->Write("dm\r\n");
    }
}

void CServedReceiver::Tell(CClientSession* client, const QString& status)
{
    if (auto* server = qobject_cast<CReceiverServer*>(parent())) {
        server->Notify(client->User(), 248, status);
    }
}

bool CServedReceiver::OthersStream(const CClientSession* client) const
{
    for (auto it = m_filters.cbegin(); it != m_filters.cend(); ++it) {
        if (it.key() != client && !it.value().Empty()) {
            return true;
        }
    }
    return false;
}

bool CServedReceiver::FromClient(CClientSession* client, const QByteArray& bytes)
{
    if (client == m_holder && m_transfer == Transfer::Active && !bytes.contains('\n') && !bytes.contains('\r')) {
        if (bytes.size() > kMaxLineBytes) {
            return false;
        }
        m_transport->Write(bytes);
        m_transferTimer->start(m_transferQuietMs);
        return true;
    }
    if (client == m_holder && (m_transfer == Transfer::Requested || m_transfer == Transfer::Active)) {
        // A command line: the holder's download is over, however it ended.
        EndTransfer();
    }
    QByteArray& pending = m_lines[client];
    pending += bytes;
    // Each round removes one line, so the loop ends with the bytes.
    for (;;) {
        qsizetype eol = -1;
        for (qsizetype i = 0; i < pending.size(); ++i) {
            if (pending[i] == '\n' || pending[i] == '\r') {
                eol = i;
                break;
            }
        }
        if (eol < 0) {
            return pending.size() <= kMaxLineBytes;
        }
        const QByteArray line = pending.left(eol).trimmed();
        pending.remove(0, eol + 1);
        if (!line.isEmpty()) {
            HandleLine(client, line);
        }
        if (!m_clients.contains(client)) {
            return true;
        }
    }
}

void CServedReceiver::HandleLine(CClientSession* client, const QByteArray& line)
{
    const QList<QByteArray> texts = Statements(line);
    QList<Statement> statements;
    for (const QByteArray& t : texts) {
        statements.append(Parse(t));
    }
    const bool holder = client == m_holder;
    if (m_transfer != Transfer::None) {
        // Any byte sent now would be read as a block answer by the receiver.
        Refuse(client, statements, "{409,the receiver is busy with a file transfer}");
        return;
    }
    if (statements.size() == 1 && statements[0].command == "dm" && CurrentPort(statements[0])) {
        // A "dm" on the shared port stops only this client's share while others still stream.
        m_filters[client].Apply(statements[0].rest, false);
        if (OthersStream(client)) {
            if (!statements[0].tag.isEmpty()) {
                Reply(client, "RE", statements[0].tag, {});
            }
            return;
        }
    }
    bool allowed = true;
    for (const Statement& s : statements) {
        if (s.command == "em" && CurrentPort(s)) {
            m_filters[client].Apply(s.rest, true);
        } else if (!holder && s.command != "print" && s.command != "list") {
            allowed = false;
        }
    }
    if (!allowed) {
        Refuse(client, statements, "{403,the receiver is held by another client}");
        return;
    }
    if (m_tagOwner.size() > kMaxPendingTags) {
        m_tagOwner.clear();
    }
    for (const Statement& s : statements) {
        if (s.tag.isEmpty() || s.tag == "%%") {
            m_untaggedOwner = client;
        } else {
            m_tagOwner.insert(s.tag, client);
        }
    }
    m_transport->Write(line + "\r\n");
    for (qsizetype i = 0; i < statements.size(); ++i) {
        if (statements[i].command == "get") {
            StartTransfer(statements[i].tag, texts[i]);
            break;
        }
    }
}

void CServedReceiver::StartTransfer(const QByteArray& tag, const QByteArray& statement)
{
    m_transferTag = tag;
    m_transferQuietMs = GetTimeoutS(statement, kDefaultGetTimeoutS) * 1000 + kTransferMarginMs;
    // A tagged get is answered once the receiver is ready; an untagged one only fails aloud.
    m_transfer = tag.isEmpty() ? Transfer::Active : Transfer::Requested;
    if (m_transfer == Transfer::Active) {
        m_framer.Reset();
        m_resync->stop();
    }
    m_transferTimer->start(m_transferQuietMs);
}

void CServedReceiver::EndTransfer()
{
    m_transfer = Transfer::None;
    m_transferTag.clear();
    m_transferTimer->stop();
    m_resync->stop();
    m_framer.Reset();
}

void CServedReceiver::OnTransferQuiet()
{
    // The receiver has given the get up by now (or, draining, sent its last block).
    if (m_transfer != Transfer::None) {
        qCInfo(lcServer).noquote() << "receiver" << m_name << ": file transfer over after silence";
        EndTransfer();
    }
}

void CServedReceiver::OnResyncQuiet()
{
    if (m_transfer == Transfer::None) {
        m_framer.GiveUpGuess([this](const CFramer::Event& e) { Route(e); });
    }
}

void CServedReceiver::OnReceived(const QByteArray& bytes)
{
    if (m_transfer == Transfer::Active) {
        m_transferTimer->start(m_transferQuietMs);
        // A holder that does not read is dropped right here, which turns the transfer into a drain.
        if (m_holder) {
            m_holder->SendData(bytes);
        }
        return;
    }
    if (m_transfer == Transfer::Draining) {
        if (m_drainClock.elapsed() < kDrainMaxMs) {
            m_transferTimer->start(kDrainQuietMs);
        }
        return;
    }
    m_framer.Feed(bytes.constData(), size_t(bytes.size()), [this](const CFramer::Event& e) { Route(e); });
    if (m_transfer == Transfer::Active) {
        // The get was accepted inside this feed: what follows is blocks, never frames.
        m_framer.Reset();
        m_resync->stop();
    } else if (m_framer.WaitingOnGuess()) {
        m_resync->start(kResyncQuietMs);
    } else {
        m_resync->stop();
    }
}

void CServedReceiver::Route(const CFramer::Event& e)
{
    const QByteArray data = QByteArray::fromRawData(e.data, e.size);
    switch (e.kind) {
        case CFramer::EventKind::Frame: {
            const quint16 id = quint16((quint8(data[0]) << 8) | quint8(data[1]));
            const QByteArray kind = data.left(2);
            if (kind == "RE" || kind == "ER") {
                const QByteArray body = data.mid(5);
                if (m_transfer == Transfer::Requested && body.startsWith(m_transferTag)) {
                    // Refused: nothing to relay unframed (the framer is not reset from inside its own feed).
                    m_transfer = kind == "RE" ? Transfer::Active : Transfer::None;
                    if (m_transfer == Transfer::None) {
                        m_transferTimer->stop();
                    }
                }
                CClientSession* owner = nullptr;
                if (body.startsWith('%')) {
                    const qsizetype end = body.indexOf('%', 1);
                    const QByteArray tag = end > 0 ? body.left(end + 1) : QByteArray();
                    owner = tag == "%%" ? m_untaggedOwner : m_tagOwner.take(tag);
                } else if (body.startsWith(' ')) {
                    owner = m_replyOwner;
                } else {
                    owner = m_untaggedOwner;
                }
                if (!owner || !m_clients.contains(owner)) {
                    owner = m_holder;
                }
                m_replyOwner = owner;
                if (owner) {
                    owner->SendData(data + "\r\n");
                }
                return;
            }
            static const QList<QByteArray> kText = {"KV", "MF", "PM", "MS", "GS", "NS"};
            const QByteArray out = data + (kText.contains(kind) ? "\r\n" : "\n");
            bool sent = false;
            const auto clients = m_clients;
            for (CClientSession* c : clients) {
                if (m_filters.value(c).Matches(id)) {
                    c->SendData(out);
                    sent = true;
                }
            }
            // What nobody asked for by name (file blocks, the output of another set) belongs to the holder.
            if (!sent && m_holder) {
                m_holder->SendData(out);
            }
            return;
        }
        case CFramer::EventKind::TextLine: {
            const auto clients = m_clients;
            for (CClientSession* c : clients) {
                if (c == m_holder || m_filters.value(c).all) {
                    c->SendData(data + "\r\n");
                }
            }
            return;
        }
        case CFramer::EventKind::Skipped:
            if (m_holder && data.count('\r') + data.count('\n') != data.size()) {
                m_holder->SendData(data);
            }
            return;
        case CFramer::EventKind::BadChecksum:
            return;
    }
}
