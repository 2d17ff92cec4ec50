#pragma once

#include "link/ConnectionInfo.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CProfile;
class CMessageUpload;
class CServerClient;
struct ConnectionCore;
struct ReceiverAddress;

// Record handed to the attempt callback of CConnection::Open while a receiver is being reached.
struct OPEN_ATTEMPT
{
    uint32_t size = sizeof(OPEN_ATTEMPT);
    uint32_t attempt = 0;  // 1, 2, ...
};

// The program's link to receivers: one per application. A connection with no server name is a connection on
// this machine; receivers are then reached directly (serial port, TCP port, in-process simulator).
class CConnection
{
public:
    // Time-outs are counted in units of this many milliseconds (SetTimeout(75) = 1.5 s of silence).
    static constexpr int kTimeoutUnitMs = 20;
    static constexpr unsigned kDefaultTimeout = 75;

    // System message codes passed to the system-message callback.
    enum : uint8_t {
        kMsgTransferProgress = 251,
        kMsgNewUserMessage = 254,
        kMsgStatus = 248,
        kMsgLinkLost = 255,
        kMsgServerLost = 253,
        kMsgReceiverLost = 247,
    };

    using SysMsgCallback = std::function<unsigned long(CConnection*)>;
    using AttemptCallback = std::function<bool(const OPEN_ATTEMPT&)>;
    // Gets each statement a receiver on this connection sends, as its caller wrote it (with the caller's own
    // "%tag%" or none), before the link gives it a private tag. Called on the sending thread.
    using StatementRecorder = std::function<void(const QString& statement)>;

    CConnection();
    ~CConnection();
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    void SetSysMsgCallback(SysMsgCallback callback);
    void SetLogDetailLevel(int level);

    // Opens the connection: `server` empty means this machine. The attempt callback is asked before every
    // attempt to reach a receiver; returning true gives up. Returns non-zero on success; on failure
    // GetMsgText() says why.
    int Open(const QString& server, const QString& user, const QString& password, const QString& application,
             AttemptCallback attempt = nullptr);
    void Close();
    bool IsOpen() const;

    // Applies from the next command line on.
    void SetTimeout(unsigned int timeout);
    unsigned int GetTimeout() const;

    // A trace of what the program sends (tests assert "%%set" against "set" with it); null removes it.
    void SetStatementRecorder(StatementRecorder recorder);

    // The receivers of the server (empty on this machine, where any receiver name may be opened).
    QStringList GetRcvList();
    bool isLocalServerConn() const;
    // How a receiver name is reached on this connection: directly, or behind the server.
    ReceiverAddress AddressOf(const QString& receiverName) const;

    // User messages at the server; each returns non-zero on success, else GetMsgText() says why.
    // GetUsrList: GetReplyString() holds "USR" and one "<name>/<letter>\n" per user ("e" another user, "m" this
    // one). `count` (may be null) gets the number of users.
    int GetUsrList(int* count);
    int GetMsgList(std::vector<REMOTE_MSG>& list);
    // Without a folder the message (at most kMaxInlineMsg bytes) is read into GetMsgText() as
    // "<subject>\n<text>" (see SplitMsgText); with one it is saved as folder/name, and GetMsgText() says where.
    int GetMsg(const QString& name, const QString& folder);
    static bool SplitMsgText(const QString& text, QString& subject, QString& body);
    // Progress callback of file transfers: bytes done and total; returning false cancels.
    using ProgressCallback = std::function<bool(qint64 done, qint64 total)>;
    int SetMsg(const QString& user, const QString& subject, const QString& text);
    int SetMsg(const QString& user, const QString& subject, const QString& path, ProgressCallback progress);
    // The file form without blocking: see CMessageUpload (its callbacks run on the connection's session thread).
    // Null when it cannot start; GetMsgText() then says why.
    std::shared_ptr<CMessageUpload> StartSetMsg(const QString& user, const QString& subject, const QString& path,
                                                std::function<void(qint64 done, qint64 total)> progress,
                                                std::function<void(bool ok, const QString& text)> done);
    int DeleteMsg(const QString& name);
    static constexpr int kMaxInlineMsg = 64 * 1024;
    static CProfile* getProfile();

    // The current system message (set before the system-message callback is called).
    QString GetMsgText() const;
    uint8_t GetMsgCode() const;
    QString GetReplyString() const;

    // Guards the buffers of attached message tables.
    std::mutex& GetLock();

    // The password given to Open, used for a receiver's TCP login.
    QString GetPassword() const;

    std::shared_ptr<ConnectionCore> Core() const { return m_core; }

private:
    int Fail(const QString& why);
    int Succeed(const QString& text);
    // Downloads a message into the file at `path` in chunks.
    int FetchMsg(const QString& name, const QString& path, qint64 size);

    std::shared_ptr<ConnectionCore> m_core;
    std::unique_ptr<CServerClient> m_server;
};

// What a CConnection shares with the receivers opened on it; outlives the connection while they use it.
struct ConnectionCore
{
    mutable std::mutex mutex;
    std::mutex tableLock;
    // Held while the system-message callback runs, so that the connection is not deleted under it.
    std::mutex callbackMutex;
    CConnection* owner = nullptr;
    CConnection::SysMsgCallback sysMsg;
    CConnection::AttemptCallback attempt;
    CConnection::StatementRecorder recorder;
    QString msgText;
    uint8_t msgCode = 0;
    QString replyString;
    QString server;
    QString user;
    QString password;
    unsigned timeout = CConnection::kDefaultTimeout;
    bool open = false;

    // Sets the current system message and calls the callback (from any thread). The callback must not block on
    // the thread that deletes the connection: it posts, it does not wait.
    void PostSystemMessage(uint8_t code, const QString& text);
    // Asks the attempt callback; true = give up.
    bool ReportAttempt(uint32_t attempt);
    int TimeoutMs() const;
    void RecordStatement(const QString& statement);
    // Whether a recorder is set: a statement's text is put together only for one.
    bool RecordsStatements() const;
};
