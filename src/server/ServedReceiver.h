#pragma once

#include "link/Framer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

class CClientSession;
class CTransport;
class QTimer;

// What a client asked the receiver to output on the server's port: the union goes to the receiver, each client
// sees only its own part.
struct StreamFilter
{
    bool all = false;
    QSet<quint16> ids;
    bool Matches(quint16 id) const { return all || ids.contains(id); }
    bool Empty() const { return !all && ids.isEmpty(); }
    // Applies the message part of "em,<port>,<messages>" (add) or "dm,<port>[,<messages>]" (remove).
    void Apply(const QByteArray& messages, bool add);
};

// One receiver owned by the server. The first client to open it holds its command channel; later ones watch its
// stream and may read (print, list) and start or stop their own share of the stream (em, dm on the current port).
class CServedReceiver : public QObject
{
public:
    static constexpr int kRetryMs = 2000;
    static constexpr int kMaxLineBytes = 8192;
    static constexpr int kMaxPendingTags = 4096;
    // A guessed frame header (garbage that looks like one) waits this long for its body before the bytes after
    // it are searched again, as the link's own framer does.
    static constexpr int kResyncQuietMs = 100;
    // After a download ended without the holder (it left), the receiver's last block is let pass unseen.
    static constexpr int kDrainQuietMs = 200;
    // A receiver that streams again once out of the get is never quiet: the drain ends by then at the latest.
    static constexpr int kDrainMaxMs = 1000;
    // A get whose holder says nothing for the receiver's own time-out plus this margin is over.
    static constexpr int kTransferMarginMs = 2000;
    static constexpr int kDefaultGetTimeoutS = 10;

    CServedReceiver(QString name, QString address, QObject* parent = nullptr);
    ~CServedReceiver() override;

    void Start();
    bool IsUp() const { return m_up; }
    const QString& Name() const { return m_name; }
    // "holder" or "watcher"; empty when the receiver is not reachable.
    QString Attach(CClientSession* client);
    void Detach(CClientSession* client);
    bool IsHolder(const CClientSession* client) const { return m_holder == client; }
    // Bytes a client sent; false when the client broke the rules hard enough to be dropped.
    bool FromClient(CClientSession* client, const QByteArray& bytes);
    // A file download ("get") runs between the holder and the receiver; its bytes pass unframed.
    bool Transferring() const { return m_transfer != Transfer::None; }

private:
    // A get's block protocol is not framed: while it runs, the receiver's bytes go to the holder as they are and
    // the holder's block answers (each in a data frame of its own, without a line end) to the receiver.
    enum class Transfer { None, Requested, Active, Draining };

    void Connect();
    void StartTransfer(const QByteArray& tag, const QByteArray& options);
    void EndTransfer();
    void OnTransferQuiet();
    void OnResyncQuiet();
    void OnReceived(const QByteArray& bytes);
    void OnDown(const QString& why);
    void HandleLine(CClientSession* client, const QByteArray& line);
    void Route(const CFramer::Event& event);
    bool OthersStream(const CClientSession* client) const;
    // A status text (system message 248) for the control sessions of the client's user.
    void Tell(CClientSession* client, const QString& status);

    QString m_name;
    QString m_address;
    CTransport* m_transport = nullptr;
    QTimer* m_retry = nullptr;
    bool m_up = false;
    CFramer m_framer;
    QTimer* m_resync = nullptr;
    Transfer m_transfer = Transfer::None;
    QByteArray m_transferTag;
    int m_transferQuietMs = 0;
    QTimer* m_transferTimer = nullptr;
    QElapsedTimer m_drainClock;
    QList<CClientSession*> m_clients;
    CClientSession* m_holder = nullptr;
    QHash<CClientSession*, QByteArray> m_lines;
    QHash<CClientSession*, StreamFilter> m_filters;
    QHash<QByteArray, CClientSession*> m_tagOwner;
    CClientSession* m_untaggedOwner = nullptr;
    CClientSession* m_replyOwner = nullptr;
};
