#include "app/Connector.h"

#include "app/ConnectionState.h"
#include "app/FrameTitle.h"
#include "link/Connection.h"
#include "link/ParamBatch.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "ui/TimeServices.h"

#include <QCoreApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcApp, "nemola.app")

const QString CConnector::kIdentifyBatch = QStringLiteral(
    "@scr stoperrors off\nprint,/par/rcv/ver/main\nprint,/par/rcv/model\nprint,/cur/term\nprint,/par/rcvid\n@end\n");

CConnector::CConnector(ConnectionState& state, CReceiverHolder& holder, const ITickSource& tick, QObject* parent)
    : QObject(parent), m_state(state), m_holder(holder), m_tick(tick)
{
}

CConnector::~CConnector()
{
    if (m_thread) {
        m_thread->join();
    }
}

void CConnector::InstallSystemMessageHandler(CConnection* connection)
{
    connection->SetSysMsgCallback([this, generation = ++m_generation](CConnection* c) -> unsigned long {
        // Runs on the link's thread: only signals leave it, the GUI thread acts on them.
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
            case CConnection::kMsgTransferProgress:  // goes to the user-message window once there is one
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
        return;
    }
    Request request;
    if (!m_state.connection) {
        m_state.connection = std::make_unique<CConnection>();
        InstallSystemMessageHandler(m_state.connection.get());
        m_state.connection->SetLogDetailLevel(0);
        request.openConnection = true;
    }
    request.connection = m_state.connection.get();
    request.receiverName = m_state.receiverName;
    request.server = m_state.server;
    request.user = m_state.user;
    request.password = m_state.password;
    request.manualOnly = m_state.manualOnly;
    m_thread.emplace([this, request] {
        const Outcome outcome = Run(request);
        QMetaObject::invokeMethod(
            this, [this, outcome] { Apply(outcome); }, Qt::QueuedConnection);
    });
}

CConnector::Outcome CConnector::Run(const Request& request)
{
    Outcome out;
    m_state.connectTick = m_tick.TickMs();
    m_state.noData = true;
    CConnection* connection = request.connection;

    if (request.openConnection) {
        emit StatusText(QStringLiteral("Open connection to server"));
        const auto attempt = [this](const OPEN_ATTEMPT& record) {
            emit StatusText(QString::asprintf("Trying %d", int(record.attempt)));
            return m_state.cancelTrying.load();
        };
        if (!connection->Open(request.server, request.user, request.password, QStringLiteral("Nemola-M"), attempt)) {
            out.lastError = connection->GetMsgText();
            out.dropConnection = true;
            emit StatusText(out.lastError);
            return out;
        }
    }

    connection->SetTimeout(CConnection::kDefaultTimeout);
    connection->GetRcvList();
    m_holder.CloseReceiver();
    emit StatusText(request.receiverName);

    const std::shared_ptr<CReceiver> receiver = m_holder.GetReceiver();
    const bool opened = receiver->Open(connection, request.receiverName, 0) != 0;
    m_state.cancelTrying = false;
    if (!opened) {
        out.lastError = receiver->GetReplyString().trimmed();
        out.dropConnection = true;
        emit StatusText(out.lastError);
        return out;
    }

    if (request.manualOnly) {
        m_holder.CloseReceiver();
        out.ok = true;
        out.manualOnly = true;
        return out;
    }

    emit StatusText(request.receiverName);
    CParamBatch batch(m_holder);
    if (!batch.Run(kIdentifyBatch)) {
        out.dropConnection = true;
        emit StatusText(QStringLiteral("Error run script"));
        return out;
    }
    if (const QString* v = batch.Value(0)) {
        out.firmware = *v;
    }
    if (const QString* v = batch.Value(1)) {
        out.model = *v;
    }
    if (const QString* v = batch.Value(2)) {
        out.currentPort = *v;
    }
    if (const QString* v = batch.Value(3)) {
        out.receiverId = *v;
    }
    out.baseMode = ReadMode(QStringLiteral("print,/par/base/mode"));
    out.roverMode = ReadMode(QStringLiteral("print,/par/rover/mode"));
    out.ok = true;
    return out;
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

void CConnector::Apply(const Outcome& outcome)
{
    if (m_thread) {
        m_thread->join();
        m_thread.reset();
    }
    if (outcome.firmware) {
        int major = 0;
        int minor = 0;
        if (ScanText(*outcome.firmware, "%d.%d", &major, &minor) == 2) {
            m_state.firmwareMajor = major;
            m_state.firmwareMinor = minor;
        }
    }
    if (outcome.model) {
        m_state.model = *outcome.model;
    }
    if (outcome.currentPort) {
        m_state.currentPort = *outcome.currentPort;
    }
    if (outcome.receiverId) {
        m_state.receiverId = *outcome.receiverId;
    }
    if (!outcome.lastError.isEmpty()) {
        m_state.lastError = outcome.lastError;
    }
    if (outcome.dropConnection) {
        m_holder.CloseReceiver();
        m_state.connection.reset();
    }
    if (outcome.ok) {
        m_state.running = true;
        if (!outcome.manualOnly) {
            emit TitleChanged(
                ConnectedFrameTitle(m_state.model, m_state.receiverName, outcome.baseMode, outcome.roverMode));
        }
    }
    m_state.connecting = false;
    qCInfo(lcApp) << "Connect to" << m_state.receiverName << (outcome.ok ? "succeeded" : "failed");
    emit Finished(outcome.ok);
    if (outcome.ok && outcome.manualOnly) {
        emit ManualModeRequested();
    }
}

void CConnector::Stop()
{
    if (!m_state.running || !m_state.connection) {
        return;
    }
    m_state.running = false;
    m_state.connecting = true;
    m_holder.CloseReceiver();
    m_state.connecting = false;
}

void CConnector::WaitFinished()
{
    if (m_thread) {
        m_thread->join();
        m_thread.reset();
    }
    // Delivers the result and the texts the thread posted.
    QCoreApplication::sendPostedEvents();
}
