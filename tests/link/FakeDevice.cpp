#include "FakeDevice.h"

#include <algorithm>

class CFakeSession : public IDeviceSession
{
public:
    CFakeSession(CFakeDevice* device, IInProcessDevice::Sink sink) : m_sink(std::move(sink)), m_device(device) {}
    ~CFakeSession() override
    {
        std::lock_guard lock(m_device->m_mutex);
        auto& list = m_device->m_sessions;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    void Write(const QByteArray& bytes) override
    {
        m_pending += bytes;
        int lf;
        while ((lf = int(m_pending.indexOf('\n'))) >= 0) {
            const QString line = QString::fromLatin1(m_pending.left(lf)).trimmed();
            m_pending.remove(0, lf + 1);
            if (!line.isEmpty()) {
                m_device->OnLine(this, line);
            }
        }
    }

    IInProcessDevice::Sink m_sink;

private:
    CFakeDevice* m_device;
    QByteArray m_pending;
};

CFakeDevice::CFakeDevice(QString key) : m_key(std::move(key))
{
    m_responder = [](const Statement& s) -> std::optional<std::vector<Reply>> {
        if (s.text.startsWith(QLatin1String("print,"))) {
            return std::vector<Reply>{{"RE", s.text.mid(6).toLatin1()}};
        }
        return std::vector<Reply>{{"RE", ""}};
    };
}

CFakeDevice::~CFakeDevice() = default;

std::unique_ptr<IDeviceSession> CFakeDevice::OpenSession(Sink sink, QString* error)
{
    if (refuseSessions) {
        *error = QStringLiteral("fake receiver is away");
        return nullptr;
    }
    auto session = std::make_unique<CFakeSession>(this, std::move(sink));
    std::lock_guard lock(m_mutex);
    m_sessions.push_back(session.get());
    return session;
}

void CFakeDevice::SetResponder(Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

void CFakeDevice::Emit(const QByteArray& bytes)
{
    std::function<void(const QByteArray&)> out;
    {
        std::lock_guard lock(m_mutex);
        if (!m_sessions.empty()) {
            out = m_sessions.back()->m_sink.output;
        }
    }
    if (out) {
        out(bytes);
    }
}

void CFakeDevice::Drop(const QString& why)
{
    std::vector<std::function<void(const QString&)>> dropped;
    {
        std::lock_guard lock(m_mutex);
        for (CFakeSession* s : m_sessions) {
            dropped.push_back(s->m_sink.dropped);
        }
    }
    for (const auto& d : dropped) {
        d(why);
    }
}

QStringList CFakeDevice::Received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

void CFakeDevice::OnLine(CFakeSession* session, const QString& line)
{
    Responder responder;
    {
        std::lock_guard lock(m_mutex);
        m_received << line;
        responder = m_responder;
    }
    QByteArray out;
    bool skipping = false;
    for (const Statement& s : SplitChain(line)) {
        if (!skipping) {
            const auto replies = responder(s);
            bool failed = false;
            if (replies) {
                for (const Reply& r : *replies) {
                    const QByteArray body =
                        (s.tagged && !r.untagged ? '%' + s.tag.toLatin1() + '%' : QByteArray()) + r.body;
                    out += BuildFrame(r.id.constData(), body) + "\r\n";
                    failed = failed || r.id == "ER";
                }
            }
            skipping = failed && s.separator == QLatin1String("&&");
        } else if (s.separator != QLatin1String("&&")) {
            skipping = false;
        }
    }
    if (!out.isEmpty()) {
        session->m_sink.output(out);
    }
}
