#include "plots/Satellites.h"

#include "link/Profile.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "plots/SkyPlot.h"
#include "ui/ElidedLabel.h"
#include "ui/TimeServices.h"
#include "ui/WindowFit.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

// The GPS and GLONASS status texts and the epoch end, which the plot needs; then for Galileo and SBAS the
// satellite indices with their elevation, azimuth, C/N0 and status (the texts have no form for those systems),
// each asked for alone: a receiver without one of them (an older firmware without E5) still shows the rest.
const QString CSatellites::kMessageSet = QStringLiteral("GS:2,NS:2,EE:2");
const QStringList CSatellites::kOptionalMessages = {
    QStringLiteral("SI:2"), QStringLiteral("EL:2"), QStringLiteral("AZ:2"),
    QStringLiteral("EC:2"), QStringLiteral("E1:2"), QStringLiteral("E2:2"),
    QStringLiteral("E3:2"), QStringLiteral("E5:2"), QStringLiteral("SS:2")};
const QString CSatellites::kSettingsSection = QStringLiteral("Satellites");
const QString CSatellites::kSignalKey = QStringLiteral("Signal");

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
    m_plot->setAccessibleName(QStringLiteral("Sky plot and signal bars"));
    m_status = new CElidedLabel(this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_signal = new QComboBox(this);
    m_signal->setObjectName(QStringLiteral("signalCombo"));
    m_signal->addItems({QStringLiteral("CA"), QStringLiteral("P1"), QStringLiteral("P2"), QStringLiteral("L2C/CA2"),
                        QStringLiteral("L5/L3")});
    auto* signalLabel = new QLabel(QStringLiteral("Bars:"), this);
    signalLabel->setBuddy(m_signal);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(signalLabel);
    bottom->addWidget(m_signal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_plot, 1);
    layout->addLayout(bottom);
    FitToScreen(this, QSize(480, 640));

    {
        const CProfile* profile = CProfile::Instance();
        const int stored = profile->ReadInt(kSettingsSection, kSignalKey, 0);
        CProfile::Release();
        ChooseSignal(stored >= 0 && stored < satslot::kSignals ? stored : 0);
    }
    connect(m_signal, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_plot->SetSignal(index);
        CProfile::Instance()->WriteInt(kSettingsSection, kSignalKey, index);
        CProfile::Release();
    });

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
    } else {
        m_channels.push_back(kChannel);
        unsigned char channel = kChannel;
        for (const QString& item : kOptionalMessages) {
            ++channel;
            if (receiver->Attach(channel, callback, item, nullptr)) {
                m_channels.push_back(channel);
            }
        }
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
        for (const unsigned char channel : m_channels) {
            m_context.holder->GetReceiver()->Detach(channel);
        }
    }
    m_channels.clear();
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

void CSatellites::ChooseSignal(int signal)
{
    m_signal->setCurrentIndex(signal);
    m_plot->SetSignal(signal);
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
