#pragma once

#include "link/ServerTransport.h"

#include <QFile>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>

class QThread;

// The control session of a CConnection to a receiver server: logged in on a thread of its own, so that notices
// and heartbeats are handled while the program waits elsewhere. Requests block their caller.
class CServerClient
{
public:
    static constexpr int kRequestTimeoutMs = 15000;

    struct Answer
    {
        bool ok = false;
        QString text;  // the server's text, or why the request failed
        QStringList words;
        QByteArray body;
    };
    // Gets notices ("<code> <text>") and the loss of the link (code 253); called on the session's thread.
    using NoticeHandler = std::function<void(uint8_t code, const QString& text)>;

    CServerClient(ServerLogin login, NoticeHandler onNotice);
    ~CServerClient();
    CServerClient(const CServerClient&) = delete;
    CServerClient& operator=(const CServerClient&) = delete;

    // Logs in; false with `why` set.
    bool Open(QString& why);
    // Waits at most the request time-out; an answer that comes later is dropped on arrival.
    Answer Request(const QStringList& words, const QByteArray& body = {});
    void SetRequestTimeout(int ms);
    // Sends a request without waiting. `done` gets the answer, or a failure on time-out, loss of the link or the
    // end of this client; it runs on the session's thread (at once on the caller's when nothing can be sent),
    // and never after this client is destroyed.
    using AnswerHandler = std::function<void(const Answer&)>;
    void Post(const QStringList& words, const QByteArray& body, AnswerHandler done);
    // Answers that arrived and were not yet taken by their request (only while one is waiting).
    size_t HeldAnswers() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    CServerLink* m_link = nullptr;
};

// A file sent as a user message in chunks, each one after the server took the previous one, without blocking
// anyone: the steps run on the session's thread as the answers come. The callbacks run there too.
class CMessageUpload : public std::enable_shared_from_this<CMessageUpload>
{
public:
    using Progress = std::function<void(qint64 done, qint64 total)>;
    using Done = std::function<void(bool ok, const QString& text)>;

    // Null with `why` set when the file cannot be read.
    static std::shared_ptr<CMessageUpload> Start(CServerClient& client, const QString& user, const QString& subject,
                                                 const QString& path, Progress progress, Done done, QString& why);
    // Ends the transfer at its next step (the server drops what it has); Done then says "Aborted by user!".
    void Cancel() { m_cancel = true; }
    // No callback runs once this returns: for the callbacks' owner before it goes away.
    void Forget();

private:
    CMessageUpload(CServerClient& client, Progress progress, Done done);
    void OnAnswer(const CServerClient::Answer& a);
    void Finish(bool ok, const QString& text);

    CServerClient& m_client;
    QFile m_file;
    qint64 m_total = 0;
    qint64 m_sent = 0;
    QString m_upload;
    std::atomic<bool> m_cancel{false};
    std::mutex m_mutex;  // guards the callbacks
    Progress m_progress;
    Done m_done;
};
