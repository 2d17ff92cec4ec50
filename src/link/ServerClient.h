#pragma once

#include "link/ServerTransport.h"

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
    // Answers that arrived and were not yet taken by their request (only while one is waiting).
    size_t HeldAnswers() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    CServerLink* m_link = nullptr;
};
