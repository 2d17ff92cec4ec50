#include "SimTestUtil.h"

#include "link/Connection.h"
#include "link/Framer.h"
#include "sim/Simulator.h"

#include <cstring>

SimOptions VirtualSim(uint32_t seed, const QString& profile)
{
    SimOptions o;
    o.virtualClock = true;
    o.seed = seed;
    o.profile = profile;
    return o;
}

CRawSession::CRawSession(CSimReceiver& sim, const QString& port)
{
    IInProcessDevice::Sink sink;
    auto shared = m_shared;
    sink.output = [shared](const QByteArray& bytes) {
        std::lock_guard lock(shared->mutex);
        shared->bytes += bytes;
    };
    sink.dropped = [shared](const QString&) {
        std::lock_guard lock(shared->mutex);
        shared->dropped = true;
    };
    QString error;
    m_session = port.isEmpty() ? sim.OpenSession(sink, &error) : sim.OpenSessionOn(port, sink, &error);
}

QByteArray CRawSession::Take()
{
    std::lock_guard lock(m_shared->mutex);
    QByteArray out;
    out.swap(m_shared->bytes);
    return out;
}

bool CRawSession::Dropped()
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->dropped;
}

std::vector<RawFrame> SplitFrames(const QByteArray& bytes)
{
    std::vector<RawFrame> frames;
    CFramer framer;
    framer.Feed(bytes.constData(), size_t(bytes.size()), [&](const CFramer::Event& e) {
        if (e.kind == CFramer::EventKind::Frame || e.kind == CFramer::EventKind::BadChecksum) {
            RawFrame f;
            f.id = QByteArray(e.data, 2);
            f.body = QByteArray(e.data + 5, e.size - 5);
            f.verified = e.kind == CFramer::EventKind::Frame && CFramer::VerifyFrame(e.data, e.size);
            frames.push_back(f);
        }
    });
    return frames;
}

std::map<QByteArray, RawFrame> ById(const std::vector<RawFrame>& frames)
{
    std::map<QByteArray, RawFrame> m;
    for (const RawFrame& f : frames) {
        m[f.id] = f;
    }
    return m;
}

QByteArray Bodies(const std::vector<RawFrame>& frames)
{
    QByteArray all;
    for (const RawFrame& f : frames) {
        all += f.id + ':' + f.body + '\n';
    }
    return all;
}

uint32_t U4(const QByteArray& b, int at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | uint8_t(b[at + i]);
    }
    return v;
}

double F4(const QByteArray& b, int at)
{
    const uint32_t u = U4(b, at);
    float f = 0;
    std::memcpy(&f, &u, 4);
    return f;
}

double F8(const QByteArray& b, int at)
{
    const uint64_t u = uint64_t(U4(b, at)) | (uint64_t(U4(b, at + 4)) << 32);
    double d = 0;
    std::memcpy(&d, &u, 8);
    return d;
}

CLinkLostCounter::CLinkLostCounter(CConnection& connection)
{
    connection.SetSysMsgCallback([this](CConnection* c) {
        if (c->GetMsgCode() == CConnection::kMsgLinkLost) {
            ++m_count;
        }
        return 1ul;
    });
}
