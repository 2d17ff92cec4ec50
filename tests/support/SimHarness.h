#pragma once

#include "sim/Simulator.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class CConnection;
class CReceiver;
class CReceiverHolder;

// A simulated receiver reached through the real link, for any test that needs a receiver:
//
//     CSimHarness sim;                        // virtual clock, "full" profile, receiver open
//     ASSERT_TRUE(sim.IsOpen());
//     sim.Receiver().SendCommand("print,/par/rcv/model");
//     sim.Advance(1000);                      // one second of receiver time (epochs, delayed replies)
//
// The receiver is registered as "SIM:<unique key>" for the harness's lifetime; the harness owns an open
// CConnection and opens the receiver of a CReceiverHolder: its own, or the one given (for example
// &CReceiverHolder::Shared() for code that talks through the program's shared receiver). The destructor closes
// the receiver, the connection and unregisters the simulator.
class CSimHarness
{
public:
    static SimOptions VirtualClock();  // the default options of the harness: virtual clock, "full"

    explicit CSimHarness(const SimOptions& options = VirtualClock(), CReceiverHolder* holder = nullptr,
                         bool open = true);
    ~CSimHarness();
    CSimHarness(const CSimHarness&) = delete;
    CSimHarness& operator=(const CSimHarness&) = delete;

    CSimReceiver& Sim() { return *m_sim; }
    std::shared_ptr<CSimReceiver> SimPtr() { return m_sim; }
    CConnection& Connection() { return *m_connection; }
    CReceiverHolder& Holder() { return *m_holder; }
    CReceiver& Receiver();
    QString Name() const { return m_name; }  // "SIM:<key>"

    // Opens (or re-opens) the holder's receiver on the simulator; false with the reason in the reply string.
    bool Open();
    bool IsOpen();
    // Moves the simulator's virtual clock.
    void Advance(int64_t ms) { m_sim->AdvanceTime(ms); }

    // A blocking command; returns the reply string, `ok` tells whether the link reported success.
    QString Send(const QString& text, bool* ok = nullptr);

    // Every statement sent since the receiver opened (or the last clear), as its caller wrote it: "%%set,..."
    // and "set,..." stay apart although the receiver sees private tags on both.
    QStringList SentStatements() const;
    void ClearSentStatements();

private:
    std::shared_ptr<CSimReceiver> m_sim;
    std::unique_ptr<CConnection> m_connection;
    std::unique_ptr<CReceiverHolder> m_ownHolder;
    CReceiverHolder* m_holder = nullptr;
    QString m_key;
    QString m_name;
    mutable std::mutex m_sentMutex;
    QStringList m_sent;
};

// The simulator reached through one named port of its own ("/dev/tcp/a"), as a device to register: a receiver
// opened on it talks through that port, as a runner connected there does.
std::shared_ptr<IInProcessDevice> SimPortDevice(std::shared_ptr<CSimReceiver> sim, const QString& port);

// Files, helper programs and waiting, as tests of recordings, downloads, tools and windows use them.

// Runs the event loop until `done` says so or `timeoutMs` passed; what `done` says at the end.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// The whole file; "<unreadable>" when it cannot be opened, so that a missing file never equals an empty one.
QByteArray ReadFile(const QString& path);
// Creates or replaces the file; `executable` makes it a program its owner may run (a script).
bool WriteFile(const QString& path, const QByteArray& bytes, bool executable = false);

struct ProgramRun
{
    int code = -1;
    QString out;
    QString err;
};
// Runs a program to its end (killed after a minute); its exit code, -1 when it crashed or was killed.
// `stopAfterMs` > 0: SIGTERM if it still runs then; `inChild` runs in the child before the program starts (limits).
// Starts the simulator program on a TCP port of its own ("--tcp 0" and `args`); the port it announced, 0 when it
// announced none within 10 s.
quint16 StartTcpSim(QProcess& sim, const QString& program, const QStringList& args = {});
ProgramRun RunProgram(const QString& program, const QStringList& args, int stopAfterMs = 0,
                      const std::function<void()>& inChild = {});
