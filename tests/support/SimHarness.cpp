#include "support/SimHarness.h"

#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"

#include <atomic>

namespace {
std::atomic<int> g_harnessCount{0};
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
