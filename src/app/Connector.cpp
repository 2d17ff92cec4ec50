#include "app/Connector.h"

#include "app/ConnectionState.h"
#include "app/FrameTitle.h"
#include "app/MessageTable.h"
#include "link/Connection.h"
#include "link/ParamBatch.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/TimeServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcApp, "nemola.app")

const QString CConnector::kIdentifyBatch = QStringLiteral(
    "@scr stoperrors off\nprint,/par/rcv/ver/main\nprint,/par/rcv/model\nprint,/cur/term\nprint,/par/rcvid\n@end\n");

CConnector::CConnector(ConnectionState& state, CReceiverHolder& holder, const ITickSource& tick, QObject* parent)
    : QObject(parent), m_state(state), m_holder(holder), m_tick(tick)
{
    qRegisterMetaType<StatusSnapshot>();
}

CConnector::~CConnector()
{
    if (m_thread) {
        m_state.cancelTrying = true;
        m_state.running = false;
        WakeLoop();
        m_thread->join();
    }
}

void CConnector::InstallSystemMessageHandler(CConnection* connection)
{
    connection->SetSysMsgCallback([this, generation = m_generation](CConnection* c) -> unsigned long {
        // Runs on the link's thread: it only posts to the GUI thread, which acts on it; it never waits for it.
        const QString text = c->GetMsgText();
        switch (c->GetMsgCode()) {
            case CConnection::kMsgReceiverLost:
            case CConnection::kMsgServerLost:
            case CConnection::kMsgLinkLost:
                emit LinkLost(text, generation);
                break;
            case CConnection::kMsgStatus: {
                const int eq = int(text.indexOf(QLatin1Char('=')));
                if (eq >= 0) {
                    emit StatusText(text.mid(eq + 1).trimmed());
                }
                break;
            }
            case CConnection::kMsgNewUserMessage:
                emit NewUserMessage();
                break;
            case 246:
            case 250:
            case 252:
                break;
            case CConnection::kMsgTransferProgress:
                emit TransferNotice(text);
                break;
            default:
                emit StatusText(QStringLiteral("ER:Unknown Message!"));
                break;
        }
        return 1;
    });
}

void CConnector::Start()
{
    if (m_thread) {
        if (!m_done) {
            return;
        }
        m_thread->join();
        m_thread.reset();
    }
    Request request;
    if (!m_state.connection) {
        // Made here rather than on the thread: the GUI reads the pointer (menu states), so only the GUI sets it.
        m_state.connection = std::make_unique<CConnection>();
        ++m_generation;
        InstallSystemMessageHandler(m_state.connection.get());
        m_state.connection->SetLogDetailLevel(0);
        request.openConnection = true;
    }
    request.connection = m_state.connection.get();
    request.generation = m_generation;
    request.session = ++m_session;
    request.receiverName = m_state.receiverName;
    request.server = m_state.server;
    request.user = m_state.user;
    request.password = m_state.password;
    request.manualOnly = m_state.manualOnly;
    m_done = false;
    m_reported = false;
    m_thread.emplace([this, request] { Run(request); });
}

void CConnector::Run(const Request& request)
{
    if (Connect(request)) {
        Loop(request);
    }
    {
        std::lock_guard lock(m_doneMutex);
        m_done = true;
    }
    m_doneCv.notify_all();
}

void CConnector::Fail(const Request& request, const QString& status, const QString& lastError)
{
    if (!lastError.isEmpty()) {
        emit LastError(lastError);
    }
    emit StatusText(status);
    emit DropConnection(request.generation);
    m_state.connecting = false;
    qCInfo(lcApp) << "Connect to" << request.receiverName << "failed:" << status;
    emit Finished(false);
}

bool CConnector::Connect(const Request& request)
{
    m_state.connectTick = m_tick.TickMs();
    m_state.noData = true;
    CConnection* connection = request.connection;
    m_dispatcher.Clear(connection->GetLock());
    ApplyPendingTarget();

    if (request.openConnection) {
        emit StatusText(QStringLiteral("Open connection to server"));
        const auto attempt = [this](const OPEN_ATTEMPT& record) {
            emit StatusText(QString::asprintf("Trying %d", int(record.attempt)));
            return m_state.cancelTrying.load();
        };
        if (!connection->Open(request.server, request.user, request.password, QStringLiteral("Nemola-M"), attempt)) {
            const QString why = connection->GetMsgText();
            Fail(request, why, why);
            return false;
        }
    }

    connection->SetTimeout(CConnection::kDefaultTimeout);
    connection->GetRcvList();
    m_holder.CloseReceiver();
    emit StatusText(request.receiverName);

    const std::shared_ptr<CReceiver> receiver = m_holder.GetReceiver();
    const bool opened = receiver->Open(connection, request.receiverName, 0) != 0;
    m_state.cancelTrying = false;
    emit StopButtonVisible(false);
    if (!opened) {
        const QString why = receiver->GetReplyString().trimmed();
        Fail(request, why, why);
        return false;
    }

    if (request.manualOnly) {
        m_state.running = true;
        m_state.connecting = false;
        m_holder.CloseReceiver();
        emit Finished(true);
        emit ManualModeRequested();
        m_reported = true;
        return false;
    }

    emit StatusText(request.receiverName);
    CParamBatch batch(m_holder);
    if (!batch.Run(kIdentifyBatch)) {
        Fail(request, QStringLiteral("Error run script"), QString());
        return false;
    }
    // Written while `connecting` is set; readers look only once `running` is.
    if (const QString* v = batch.Value(0)) {
        int major = 0;
        int minor = 0;
        if (ScanText(*v, "%d.%d", &major, &minor) == 2) {
            m_state.firmwareMajor = major;
            m_state.firmwareMinor = minor;
        }
    }
    if (const QString* v = batch.Value(1)) {
        m_state.model = *v;
    }
    if (const QString* v = batch.Value(2)) {
        m_state.currentPort = *v;
    }
    if (const QString* v = batch.Value(3)) {
        m_state.receiverId = *v;
    }

    if (!receiver->Attach(0, nullptr, MessageSetFor(connection->isLocalServerConn()), &m_dispatcher.Table())) {
        const QString why = receiver->GetReplyString().trimmed();
        Fail(request, why, why);
        return false;
    }

    const QString baseMode = ReadMode(QStringLiteral("print,/par/base/mode"));
    const QString roverMode = ReadMode(QStringLiteral("print,/par/rover/mode"));
    emit TitleChanged(ConnectedFrameTitle(m_state.model, request.receiverName, baseMode, roverMode));
    m_dispatcher.ArmEvent(connection->GetLock());
    m_state.running = true;
    m_state.connecting = false;
    qCInfo(lcApp) << "Connected to" << request.receiverName;
    emit Finished(true);
    m_reported = true;
    return true;
}

void CConnector::Loop(const Request& request)
{
    CConnection* connection = request.connection;
    const std::shared_ptr<CReceiver> receiver = m_holder.GetReceiver();
    while (true) {
        const bool woken = receiver->WaitTableEvent(m_dispatcher.Event(), m_epochTimeoutMs);
        if (!m_state.running) {
            break;
        }
        ApplyPendingTarget();
        if (woken) {
            m_dispatcher.TakeEpoch(connection->GetLock(), &m_state.running);
        } else {
            // Whatever came without an epoch end (event markers, say) would otherwise pile up for ever.
            m_dispatcher.Clear(connection->GetLock());
        }
        m_state.noData = m_dispatcher.State().NoData();
        emit SnapshotReady(m_dispatcher.Snapshot(), request.session);
    }
    m_dispatcher.DisarmEvent(connection->GetLock());
    // Stops the messages this thread asked for, so that whoever opens the port next is not flooded with them.
    receiver->Detach(0);
    m_holder.CloseReceiver();
}

QString CConnector::ReadMode(const QString& command)
{
    if (!m_holder.Send(command)) {
        return {};
    }
    // Only an answer counts: an error reply's text ("unknown parameter", ...) may well contain "on".
    const QString reply = m_holder.Reply();
    if (!reply.startsWith(QLatin1String("RE"))) {
        return {};
    }
    return AnswerValue(reply.section(QLatin1Char('\n'), 0, 0));
}

void CConnector::SetTarget(double latRad, double lonRad)
{
    std::lock_guard lock(m_targetMutex);
    m_pendingTarget = std::make_pair(latRad, lonRad);
}

void CConnector::ApplyPendingTarget()
{
    std::optional<std::pair<double, double>> target;
    {
        std::lock_guard lock(m_targetMutex);
        target.swap(m_pendingTarget);
    }
    if (target) {
        m_dispatcher.State().SetTarget(target->first, target->second);
        // The next position shows the new target.
        m_dispatcher.State().SetNoData(true);
    }
}

void CConnector::WakeLoop()
{
    m_dispatcher.Event().Set();
    // The thread may be reading the receiver's stream while it waits.
    m_holder.WakeTableWaiter();
}

void CConnector::Stop(bool pumpEvents)
{
    if (!m_thread) {
        return;
    }
    m_state.running = false;
    WakeLoop();
    std::unique_lock lock(m_doneMutex);
    while (!m_done) {
        if (!m_doneCv.wait_for(lock, std::chrono::milliseconds(kStopStepMs), [this] { return m_done; })) {
            if (pumpEvents) {
                lock.unlock();
                QCoreApplication::processEvents();
                lock.lock();
            }
        }
    }
    lock.unlock();
    m_thread->join();
    m_thread.reset();
}

bool CConnector::CollectEndedThread(bool wait)
{
    if (!m_thread) {
        return true;
    }
    {
        std::unique_lock lock(m_doneMutex);
        if (wait) {
            m_doneCv.wait(lock, [this] { return m_done; });
        }
        if (!m_done) {
            return false;
        }
    }
    m_thread->join();
    m_thread.reset();
    return true;
}

void CConnector::WaitFinished(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    // A connect is under way while `connecting` is set; a failed one ends its thread right after clearing it.
    while (m_thread && timer.elapsed() < timeoutMs) {
        bool done = false;
        {
            std::unique_lock lock(m_doneMutex);
            done = m_doneCv.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_done; });
        }
        if (done) {
            CollectEndedThread();
            break;
        }
        if (m_reported) {
            break;
        }
        QCoreApplication::processEvents();
    }
    // Delivers the results and the texts the thread posted.
    QCoreApplication::sendPostedEvents();
}
