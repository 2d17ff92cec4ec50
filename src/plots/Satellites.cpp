#include "plots/Satellites.h"

#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "plots/SkyPlot.h"
#include "ui/TimeServices.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

const QString CSatellites::kMessageSet = QStringLiteral("GS:2,NS:2,EE:2");

namespace {

// The mask from a "print,/par/pos/elm" answer; 0 (no ring) for anything but whole degrees in 0..90.
int ReadMask(const QString& reply)
{
    bool ok = false;
    const int mask = AnswerValue(reply.section(QLatin1Char('\n'), 0, 0)).toInt(&ok);
    return ok && mask >= 0 && mask <= 90 ? mask : 0;
}

}  // namespace

CSatellites::CSatellites(const SatellitesContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("satellitesDialog"));
    setWindowTitle(QStringLiteral("Satellites"));
    if (!m_context.holder) {
        m_context.holder = &CReceiverHolder::Shared();
    }
    if (!m_context.tick) {
        m_ownTick = std::make_unique<CSteadyTickSource>();
        m_context.tick = m_ownTick.get();
    }
    m_model = std::make_shared<CSatModel>(*m_context.tick);
    m_plot = new CSkyPlot(m_model, this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusText"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_status);
    resize(480, 640);

    m_timer = new QTimer(this);
    m_timer->setInterval(kSilenceMs);
    connect(m_timer, &QTimer::timeout, this, &CSatellites::CheckSilence);
    Open();
}

CSatellites::~CSatellites()
{
    Detach();
}

void CSatellites::Open()
{
    SetStatus(QStringLiteral("Open receiver : ") + m_context.receiverName);
    const std::shared_ptr<CReceiver> receiver = m_context.holder->GetReceiver();
    if (!receiver->Open(m_context.connection, m_context.receiverName, 0)) {
        SetStatus(receiver->GetReplyString().trimmed());
        return;
    }
    m_model->SetListener(this);
    const auto callback = [model = m_model](CReceiver* r) {
        if (!r->IsMsgBufEmpty()) {
            model->OnMessage(r->getMsgBuf(0), r->getMsgBufSize());
        }
    };
    m_attached = receiver->Attach(kChannel, callback, kMessageSet, nullptr) != 0;
    if (!m_attached) {
        SetStatus(receiver->GetReplyString().trimmed());
    }
    if (receiver->SendCommand(QStringLiteral("print,/par/pos/elm"))) {
        m_plot->SetElevationMask(ReadMask(receiver->GetReplyString()));
    }
    m_model->SetLastEpochMs(m_context.tick->TickMs());
    m_timer->start();
}

void CSatellites::Detach()
{
    m_model->SetListener(nullptr);
    m_timer->stop();
    if (!m_attached) {
        return;
    }
    m_attached = false;
    if (m_context.holder->HasReceiver()) {
        m_context.holder->GetReceiver()->Detach(kChannel);
    }
}

void CSatellites::done(int result)
{
    Detach();
    QDialog::done(result);
}

void CSatellites::CheckSilence()
{
    const int64_t quiet = m_context.tick->TickMs() - m_model->LastEpochMs();
    SetStatus(quiet <= kSilenceMs ? QString() : QStringLiteral("Receiver don't reply!"));
}

void CSatellites::Refresh()
{
    m_plot->update();
}

QString CSatellites::StatusText() const
{
    return m_status->text();
}

void CSatellites::SetStatus(const QString& text)
{
    m_status->setText(text);
}

void RunSatellites(const SatellitesContext& context, QWidget* parent)
{
    CSatellites dialog(context, parent);
    dialog.exec();
}
