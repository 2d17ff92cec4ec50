#include "SimTestUtil.h"

#include "link/Framer.h"
#include "sim/Simulator.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>

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

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return true;
}
