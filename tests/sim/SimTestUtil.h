#pragma once

#include "link/InProcessDevice.h"
#include "support/SimHarness.h"  // PumpUntil for events that arrive on another thread

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

class CConnection;
class CSimReceiver;
struct SimOptions;

// A receiver whose time moves only when the test advances it.
SimOptions VirtualSim(uint32_t seed = 1, const QString& profile = QStringLiteral("full"));

// A session opened on the simulator directly, without the link: what the receiver writes, byte for byte.
class CRawSession
{
public:
    CRawSession(CSimReceiver& sim, const QString& port = QString());
    bool IsOpen() const { return m_session != nullptr; }
    void Write(const QByteArray& bytes) { m_session->Write(bytes); }
    QByteArray Take();  // everything received since the last Take
    bool Dropped();
    void Close() { m_session.reset(); }

private:
    struct Shared
    {
        std::mutex mutex;
        QByteArray bytes;
        bool dropped = false;
    };
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::unique_ptr<IDeviceSession> m_session;
};

struct RawFrame
{
    QByteArray id;
    QByteArray body;
    bool verified = false;  // checksum right (or none to check)
};
// Splits receiver output into frames; bytes between frames (line ends) are skipped.
std::vector<RawFrame> SplitFrames(const QByteArray& bytes);
// The frames by id, the last of each id.
std::map<QByteArray, RawFrame> ById(const std::vector<RawFrame>& frames);
// "ID:body" lines, to compare replies whole.
QByteArray Bodies(const std::vector<RawFrame>& frames);
// Little-endian fields of a binary body.
uint32_t U4(const QByteArray& b, int at = 0);
double F4(const QByteArray& b, int at);
double F8(const QByteArray& b, int at);

// Counts the "link lost" system messages of a connection.
class CLinkLostCounter
{
public:
    explicit CLinkLostCounter(CConnection& connection);
    int Count() const { return m_count; }

private:
    std::atomic<int> m_count{0};
};

// Readable QString values in test failure messages.
#include <ostream>
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
