#include "link/ServerClient.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>

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
    // Posted requests: their handlers, called once each.
    std::map<quint64, AnswerHandler> handlers;
    bool closed = false;
    NoticeHandler onNotice;

    // Takes the handlers of all posted requests, or of one, out under the lock.
    std::map<quint64, AnswerHandler> TakeHandlers()
    {
        std::lock_guard lock(mutex);
        return std::exchange(handlers, {});
    }
    AnswerHandler TakeHandler(quint64 id)
    {
        std::lock_guard lock(mutex);
        auto it = handlers.find(id);
        if (it == handlers.end()) {
            return nullptr;
        }
        AnswerHandler h = std::move(it->second);
        handlers.erase(it);
        return h;
    }
    static void FailAll(std::map<quint64, AnswerHandler> taken, const QString& why)
    {
        Answer a;
        a.text = why;
        for (auto& [id, handler] : taken) {
            handler(a);
        }
    }
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
        Shared::FailAll(shared->TakeHandlers(), why);
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
        if (!ok) {
            return;
        }
        if (AnswerHandler handler = shared->TakeHandler(id)) {
            handler(a);
            return;
        }
        std::lock_guard lock(shared->mutex);
        if (shared->waiting.count(id) != 0) {
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
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
    }
    Shared::FailAll(m_shared->TakeHandlers(), QStringLiteral("The connection to the server was closed"));
}

bool CServerClient::Open(QString& why)
{
    QMetaObject::invokeMethod(m_link, [link = m_link] { link->Open(); });
    std::unique_lock lock(m_shared->mutex);
    const bool done = m_shared->cv.wait_for(
        lock, std::chrono::milliseconds(2 * CServerLink::kLoginTimeoutMs + CServerLink::kMaxDerivationMs + 2000),
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

void CServerClient::Post(const QStringList& words, const QByteArray& body, AnswerHandler done)
{
    quint64 id = 0;
    int timeoutMs = 0;
    {
        std::unique_lock lock(m_shared->mutex);
        if (!m_shared->up || m_shared->closed) {
            Answer a;
            a.text = m_shared->why.isEmpty() ? QStringLiteral("Not connected to a server") : m_shared->why;
            lock.unlock();
            done(a);
            return;
        }
        id = m_shared->nextId++;
        timeoutMs = m_shared->timeoutMs;
        m_shared->handlers.emplace(id, std::move(done));
    }
    QByteArray payload = Pack(QStringList{QString::number(id)} + words, body);
    QMetaObject::invokeMethod(m_link, [link = m_link, shared = m_shared, id, timeoutMs, p = std::move(payload)] {
        link->Send(kRequest, p);
        QTimer::singleShot(timeoutMs, link, [shared, id] {
            if (AnswerHandler handler = shared->TakeHandler(id)) {
                Answer a;
                a.text = QStringLiteral("The server did not answer");
                handler(a);
            }
        });
    });
}

// ---------------------------------------------------------------------------------------------------------------

CMessageUpload::CMessageUpload(CServerClient& client, Progress progress, Done done)
    : m_client(client), m_progress(std::move(progress)), m_done(std::move(done))
{
}

std::shared_ptr<CMessageUpload> CMessageUpload::Start(CServerClient& client, const QString& user,
                                                      const QString& subject, const QString& path, Progress progress,
                                                      Done done, QString& why)
{
    std::shared_ptr<CMessageUpload> up(new CMessageUpload(client, std::move(progress), std::move(done)));
    up->m_file.setFileName(path);
    if (!up->m_file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("Can't read %1: %2").arg(path, up->m_file.errorString());
        return nullptr;
    }
    up->m_total = up->m_file.size();
    const QByteArray chunk = up->m_file.read(kChunkBytes);
    up->m_sent = chunk.size();
    client.Post({QStringLiteral("SEND"), user, subject, QFileInfo(path).fileName(), QString::number(up->m_total)},
                chunk, [up](const CServerClient::Answer& a) { up->OnAnswer(a); });
    return up;
}

void CMessageUpload::OnAnswer(const CServerClient::Answer& a)
{
    if (!a.ok) {
        Finish(false, a.text);
        return;
    }
    if (m_upload.isEmpty()) {
        m_upload = a.words.value(1);
    }
    if (m_sent >= m_total) {
        Finish(true, a.text);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_progress) {
            m_progress(m_sent, m_total);
        }
    }
    const QByteArray chunk = m_cancel ? QByteArray() : m_file.read(kChunkBytes);
    if (chunk.isEmpty()) {
        // The server drops the partial message; its answer is of no interest.
        m_client.Post({QStringLiteral("ABORT"), m_upload}, {}, [](const CServerClient::Answer&) {});
        Finish(false, m_cancel ? QStringLiteral("Aborted by user!")
                               : QStringLiteral("Can't read %1: the file got shorter").arg(m_file.fileName()));
        return;
    }
    m_sent += chunk.size();
    m_client.Post({QStringLiteral("DATA"), m_upload}, chunk,
                  [self = shared_from_this()](const CServerClient::Answer& next) { self->OnAnswer(next); });
}

void CMessageUpload::Finish(bool ok, const QString& text)
{
    m_file.close();
    std::lock_guard lock(m_mutex);
    if (ok && m_progress) {
        m_progress(m_total, m_total);
    }
    if (m_done) {
        m_done(ok, text);
    }
    m_progress = nullptr;
    m_done = nullptr;
}

void CMessageUpload::Forget()
{
    std::lock_guard lock(m_mutex);
    m_progress = nullptr;
    m_done = nullptr;
}
