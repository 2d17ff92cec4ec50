#pragma once

#include "link/CommandText.h"
#include "link/InProcessDevice.h"

#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// A scripted receiver for the link's own tests: the responder decides the reply frames of each statement
// (without tag), or withholds them. Registered as "SIM:<key>". Replies go to the session that asked; Emit()
// goes to the newest session, Drop() to all.
class CFakeSession;

class CFakeDevice : public IInProcessDevice
{
public:
    struct Reply
    {
        QByteArray id = "RE";
        QByteArray body;  // after the tag
        bool untagged = false;  // a continuation frame: no tag in front
    };
    // Replies of one statement; nullopt = no reply at all.
    using Responder = std::function<std::optional<std::vector<Reply>>(const Statement& statement)>;

    explicit CFakeDevice(QString key);
    ~CFakeDevice() override;

    std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString* error) override;

    void SetResponder(Responder responder);
    void Emit(const QByteArray& bytes);  // raw bytes to the host, as if the receiver sent them
    void Drop(const QString& why);
    QStringList Received() const;      // lines as the link sent them
    QString Key() const { return m_key; }
    QString Name() const { return QStringLiteral("SIM:") + m_key; }
    bool refuseSessions = false;

private:
    friend class CFakeSession;
    void OnLine(CFakeSession* session, const QString& line);

    QString m_key;
    mutable std::mutex m_mutex;
    std::vector<CFakeSession*> m_sessions;
    Responder m_responder;
    QStringList m_received;
};
