#include "link/ServerClient.h"

#include <QThread>

using namespace ServerWire;

struct CServerClient::Shared
{
    std::mutex mutex;
    std::condition_variable cv;
    bool loginDone = false;
    bool up = false;
    QString why;
    quint64 nextId = 1;
    int timeoutMs = CServerClient::kRequestTimeoutMs;
    // Requests still waiting: only their answers are kept, so a late one cannot pile up.
    std::set<quint64> waiting;
    std::map<quint64, Answer> answers;
    NoticeHandler onNotice;
};

CServerClient::CServerClient(ServerLogin login, NoticeHandler onNotice) : m_shared(std::make_shared<Shared>())
{
    m_shared->onNotice = std::move(onNotice);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("server session"));
    m_link = new CServerLink(std::move(login));
    m_link->moveToThread(m_thread);
    auto shared = m_shared;
    QObject::connect(m_link, &CServerLink::LoggedIn, m_link, [shared] {
        std::lock_guard lock(shared->mutex);
        shared->loginDone = true;
        shared->up = true;
        shared->cv.notify_all();
    });
    QObject::connect(m_link, &CServerLink::Failed, m_link, [shared](const QString& why) {
        std::lock_guard lock(shared->mutex);
        shared->loginDone = true;
        shared->why = why;
        shared->cv.notify_all();
    });
    QObject::connect(m_link, &CServerLink::Lost, m_link, [shared](const QString& why) {
        {
            std::lock_guard lock(shared->mutex);
            shared->up = false;
            shared->why = why;
            shared->cv.notify_all();
        }
        if (shared->onNotice) {
            shared->onNotice(253, why);
        }
    });
    QObject::connect(m_link, &CServerLink::FrameIn, m_link, [shared](char type, const QByteArray& payload) {
        if (type == kNotice) {
            const qsizetype space = payload.indexOf(' ');
            bool ok = false;
            const uint code = payload.left(space < 0 ? payload.size() : space).toUInt(&ok);
            if (ok && code < 256 && shared->onNotice) {
                shared->onNotice(uint8_t(code), space < 0 ? QString() : QString::fromUtf8(payload.mid(space + 1)));
            }
            return;
        }
        if (type != kAnswer) {
            return;
        }
        Answer a;
        if (!Unpack(payload, a.words, a.body) || a.words.size() < 2) {
            return;
        }
        bool ok = false;
        const quint64 id = a.words.takeFirst().toULongLong(&ok);
        a.ok = a.words.takeFirst() == QLatin1String("OK");
        a.text = a.words.value(0);
        std::lock_guard lock(shared->mutex);
        if (ok && shared->waiting.count(id) != 0) {
            shared->answers[id] = std::move(a);
            shared->cv.notify_all();
        }
    });
    QObject::connect(m_thread, &QThread::finished, m_link, &QObject::deleteLater);
    m_thread->start();
}

CServerClient::~CServerClient()
{
    QMetaObject::invokeMethod(
        m_link, [link = m_link] { link->Close(); }, Qt::BlockingQueuedConnection);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->onNotice = nullptr;
    }
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool CServerClient::Open(QString& why)
{
    QMetaObject::invokeMethod(m_link, [link = m_link] { link->Open(); });
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->cv.wait_for(lock, std::chrono::milliseconds(CServerLink::kLoginTimeoutMs + 2000),
                                            [&] { return m_shared->loginDone; });
    if (!done || !m_shared->up) {
        why = done ? m_shared->why : QStringLiteral("No answer from the server");
        return false;
    }
    return true;
}

CServerClient::Answer CServerClient::Request(const QStringList& words, const QByteArray& body)
{
    quint64 id = 0;
    int timeoutMs = 0;
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->up) {
            Answer a;
            a.text = m_shared->why.isEmpty() ? QStringLiteral("Not connected to a server") : m_shared->why;
            return a;
        }
        id = m_shared->nextId++;
        m_shared->waiting.insert(id);
        timeoutMs = m_shared->timeoutMs;
    }
    QByteArray payload = Pack(QStringList{QString::number(id)} + words, body);
    QMetaObject::invokeMethod(m_link, [link = m_link, p = std::move(payload)] { link->Send(kRequest, p); });
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                            [&] { return m_shared->answers.count(id) != 0 || !m_shared->up; });
    m_shared->waiting.erase(id);
    auto it = m_shared->answers.find(id);
    if (it == m_shared->answers.end()) {
        Answer a;
        a.text = done ? m_shared->why : QStringLiteral("The server did not answer");
        return a;
    }
    Answer a = std::move(it->second);
    m_shared->answers.erase(it);
    return a;
}

void CServerClient::SetRequestTimeout(int ms)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->timeoutMs = ms;
}

size_t CServerClient::HeldAnswers() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->answers.size();
}
