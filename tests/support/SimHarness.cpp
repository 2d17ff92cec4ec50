#include "support/SimHarness.h"

#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_harnessCount{0};

class CSimPortDevice : public IInProcessDevice
{
public:
    CSimPortDevice(std::shared_ptr<CSimReceiver> sim, QString port) : m_sim(std::move(sim)), m_port(std::move(port)) {}
    std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString* error) override
    {
        return m_sim->OpenSessionOn(m_port, std::move(sink), error);
    }

private:
    std::shared_ptr<CSimReceiver> m_sim;
    QString m_port;
};

}  // namespace

std::shared_ptr<IInProcessDevice> SimPortDevice(std::shared_ptr<CSimReceiver> sim, const QString& port)
{
    return std::make_shared<CSimPortDevice>(std::move(sim), port);
}

SimOptions CSimHarness::VirtualClock()
{
    SimOptions options;
    options.virtualClock = true;
    return options;
}

CSimHarness::CSimHarness(const SimOptions& options, CReceiverHolder* holder, bool open)
    : m_sim(std::make_shared<CSimReceiver>(options)), m_connection(std::make_unique<CConnection>())
{
    m_key = QStringLiteral("harness%1").arg(g_harnessCount.fetch_add(1) + 1);
    m_name = QStringLiteral("SIM:") + m_key;
    RegisterInProcessDevice(m_key, m_sim);
    if (!holder) {
        m_ownHolder = std::make_unique<CReceiverHolder>();
        holder = m_ownHolder.get();
    }
    m_holder = holder;
    m_connection->Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
    m_connection->SetStatementRecorder([this](const QString& statement) {
        std::lock_guard lock(m_sentMutex);
        m_sent << statement;
    });
    if (open) {
        Open();
    }
}

CSimHarness::~CSimHarness()
{
    m_connection->SetStatementRecorder(nullptr);
    m_holder->CloseReceiver();
    m_connection->Close();
    UnregisterInProcessDevice(m_key);
}

CReceiver& CSimHarness::Receiver()
{
    return *m_holder->GetReceiver();
}

bool CSimHarness::Open()
{
    const bool opened = m_holder->GetReceiver()->Open(m_connection.get(), m_name, 0) != 0;
    ClearSentStatements();  // the link's own probe is nobody's command
    return opened;
}

QStringList CSimHarness::SentStatements() const
{
    std::lock_guard lock(m_sentMutex);
    return m_sent;
}

void CSimHarness::ClearSentStatements()
{
    std::lock_guard lock(m_sentMutex);
    m_sent.clear();
}

bool CSimHarness::IsOpen()
{
    return m_holder->HasReceiver() && m_holder->GetReceiver()->IsOpen();
}

QString CSimHarness::Send(const QString& text, bool* ok)
{
    const bool sent = m_holder->Send(text);
    if (ok) {
        *ok = sent;
    }
    return m_holder->Reply();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool WriteFile(const QString& path, const QByteArray& bytes, bool executable)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        return false;
    }
    f.close();
    return !executable || f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

ProgramRun RunProgram(const QString& program, const QStringList& args, int stopAfterMs,
                      const std::function<void()>& inChild)
{
    QProcess p;
    if (inChild) {
        p.setChildProcessModifier(inChild);
    }
    p.start(program, args);
    if (stopAfterMs > 0 && !p.waitForFinished(stopAfterMs)) {
        ::kill(pid_t(p.processId()), SIGTERM);
    }
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

quint16 StartTcpSim(QProcess& sim, const QString& program, const QStringList& args)
{
    sim.start(program, QStringList{QStringLiteral("--tcp"), QStringLiteral("0")} + args);
    QByteArray out;
    for (int i = 0; i < 50 && !out.contains('\n'); ++i) {
        sim.waitForReadyRead(200);
        out += sim.readAllStandardOutput();
    }
    return out.startsWith("tcp port ") ? quint16(out.mid(9).split('\n').value(0).trimmed().toUInt()) : 0;
}
