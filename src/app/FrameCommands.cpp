// The main frame's commands that take the receiver for themselves.
#include "app/CommandIds.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "app/SatelliteTime.h"
#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "manual/ManualMode.h"
#include "ui/Prompts.h"
#include "ui/WaitBox.h"
#include "ui/Waiter.h"

namespace {

// Counts a tool holding the receiver for the length of a command.
class CToolScope
{
public:
    explicit CToolScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~CToolScope() { --m_depth; }
    CToolScope(const CToolScope&) = delete;
    CToolScope& operator=(const CToolScope&) = delete;

private:
    int& m_depth;
};

}  // namespace

const CNemolaApp::RestartSteps CNemolaApp::kClearNvram = {
    QStringLiteral("After clearing NVRAM the receiver will require\nsome time to re-collect data needed to track "
                   "satellites.\nPush OK to proceed, Cancel to abort."),
    QStringLiteral("Clear NVRAM"),
    QStringLiteral("%%init,/dev/nvm/a"),
    20,
    QStringLiteral("The NVRAM has been cleared!"),
};

const CNemolaApp::RestartSteps CNemolaApp::kResetReceiver = {
    QStringLiteral("After resetting the receiver will require\nsome time to re-collect data needed to track "
                   "satellites.\nPush OK to proceed, Cancel to abort."),
    QStringLiteral("Reset Receiver"),
    QStringLiteral("%%set,reset,yes"),
    10,
    QStringLiteral("The receiver has been reset!"),
};

void CNemolaApp::StopReceiverOutput()
{
    // The live view's thread closes the receiver when it stops (after stopping the messages it asked for), so
    // there is usually nothing open to tell; a fresh handle is not made just for this.
    CReceiverHolder& holder = CReceiverHolder::Shared();
    if (holder.HasReceiver() && holder.GetReceiver()->IsOpen()) {
        holder.Send(QStringLiteral("%%dm"));
    }
}

void CNemolaApp::RunDialogCommand(const std::function<void(QWidget* parent)>& dialog)
{
    if (!m_frame || m_exiting) {
        return;
    }
    CToolScope tool(m_toolDepth);
    Disconnect();
    StopReceiverOutput();
    m_frame->hide();
    dialog(m_frame.get());
    m_frame->show();
    if (!m_state.manualOnly) {
        Restart();
    } else {
        CReceiverHolder::Shared().CloseReceiver();
    }
    m_state.manualOnly = false;
    m_frame->raise();
    m_frame->activateWindow();
    UpdateCommandStates();
}

void CNemolaApp::ManualModeCommand()
{
    if (!m_frame || m_exiting) {
        return;
    }
    CToolScope tool(m_toolDepth);
    Disconnect();
    if (!m_state.manualOnly) {
        StopReceiverOutput();
    }
    m_frame->hide();
    ManualModeContext context;
    context.connection = m_state.connection.get();
    context.receiverName = m_state.receiverName;
    context.manualOnly = m_state.manualOnly;
    context.holder = &CReceiverHolder::Shared();
    context.tick = m_time.tick;
    // A script's pauses keep the window alive, as the program's other waits do.
    context.wait = [this](int ms) { m_waiter->Wait(ms); };
    const bool disconnectChosen = m_manualRunner ? m_manualRunner(context, m_frame.get()) : true;
    m_frame->show();
    if (!disconnectChosen) {
        if (m_state.manualOnly) {
            CReceiverHolder::Shared().CloseReceiver();
        } else {
            Restart();
        }
    }
    m_state.manualOnly = false;
    UpdateCommandStates();
}

void CNemolaApp::SetSatelliteTimeCommand()
{
    CReceiverHolder& holder = CReceiverHolder::Shared();
    holder.Send(QStringLiteral("print,/par/time/utc/"));
    const QString reply = holder.Reply();
    QDateTime utc;
    // Neither a reply without the time nor an impossible date changes the clock, and neither says anything.
    if (!ParseSatelliteTime(reply, &utc)) {
        return;
    }
    const ISystemClockSetter::Result result = m_time.clockSetter->SetUtc(utc);
    if (!result.ok) {
        // A clock that stayed as it was must not pass for a set one.
        Prompts().Message(QStringLiteral("The controller's clock could not be set: ") + result.error,
                          QStringLiteral("Set time"), PromptButtons::Ok, PromptIcon::Warning);
        return;
    }
    Prompts().Message(QStringLiteral("Satellite time is set\n") + SatelliteTimeShown(reply), QStringLiteral("Set time"),
                      PromptButtons::Ok, PromptIcon::Information);
}

QString CNemolaApp::WaitForRestart(const RestartSteps& steps, CConnection& connection, PromptIcon* icon)
{
    CReceiverHolder& holder = CReceiverHolder::Shared();
    int64_t waitedMs = kRestartFirstWaitMs;
    m_waiter->Wait(kRestartFirstWaitMs);
    holder.GetReceiver();
    bool foundAway = false;
    for (int i = 0; i < steps.retries && !m_exiting; ++i) {
        m_waiter->Wait(kRestartRetryWaitMs);
        waitedMs += kRestartRetryWaitMs;
        if (!holder.GetReceiver()->Open(&connection, m_state.receiverName, 0)) {
            foundAway = true;
            continue;
        }
        // A receiver that answers at once may never have gone away (it ignored the command): its time since the
        // last reset says. One that does not report that time is taken at its word, as before.
        if (!foundAway && holder.Send(QStringLiteral("print,/par/rcv/uptime"))) {
            bool number = false;
            const qint64 upSeconds = AnswerValue(holder.Reply()).toLongLong(&number);
            if (number && upSeconds * 1000 > waitedMs) {
                *icon = PromptIcon::Warning;
                return QStringLiteral("The receiver did not restart!");
            }
        }
        return steps.successText;
    }
    return QStringLiteral("The receiver didn't reply!");
}

void CNemolaApp::RestartReceiverCommand(const RestartSteps& steps)
{
    if (!m_frame || m_exiting) {
        return;
    }
    if (AskDestructive(steps.question, steps.title, PromptButtons::OkCancel) != PromptButton::Ok) {
        return;
    }
    CToolScope tool(m_toolDepth);
    Disconnect();
    m_frame->hide();
    CConnection* connection = m_state.connection.get();
    if (connection) {
        const unsigned oldTimeout = connection->GetTimeout();
        CReceiverHolder& holder = CReceiverHolder::Shared();
        if (!holder.GetReceiver()->Open(connection, m_state.receiverName, 0)) {
            m_state.lastError = holder.Reply().trimmed();
            SetStatus(m_state.lastError);
        } else {
            auto box =
                std::make_unique<CWaitBox>(QStringLiteral("Please wait while the receiver restarts"), m_frame.get());
            connection->SetTimeout(kRestartTimeout);
            holder.Send(steps.command);
            const QString answer = holder.Reply().trimmed();
            holder.CloseReceiver();
            QString result;
            PromptIcon icon = PromptIcon::Information;
            // A refusal leaves the receiver as it was: nothing to wait for.
            if (answer.startsWith(QLatin1String("ER"))) {
                result = QStringLiteral("The receiver refused the command: ") + answer;
                icon = PromptIcon::Warning;
            } else {
                result = WaitForRestart(steps, *connection, &icon);
            }
            box->Close();
            box.reset();
            Prompts().Message(result, steps.title, PromptButtons::Ok, icon);
        }
        connection->SetTimeout(oldTimeout);
    }
    m_frame->show();
    if (m_state.connection) {
        m_state.connecting = true;
        StartConnection();
    }
    UpdateCommandStates();
}
