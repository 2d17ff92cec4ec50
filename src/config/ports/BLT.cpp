#include "config/ports/BLT.h"

#include "config/ConfigGlobals.h"
#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/PortGroup.h"
#include "link/ParamBatch.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "ui/Prompts.h"
#include "ui/Waiter.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QVBoxLayout>

Q_DECLARE_LOGGING_CATEGORY(lcConfig)

namespace {

// The text inside a value's double quotes; a value not in quotes is shown as it is.
QString StripQuotes(const QString& value)
{
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) {
        return value.mid(1, value.size() - 2);
    }
    return value;
}

void LoadQuoted(const QString* value, QLineEdit* edit)
{
    edit->setText(value ? StripQuotes(*value) : QString());
    edit->setEnabled(value != nullptr);
}

}  // namespace

CBLT::CBLT(QWidget* parent) : CConfigPage(parent), m_waiter(&CEventPumpWaiter::Instance())
{
    QVBoxLayout* column = PageColumn(this);
    QWidget* content = column->parentWidget();
    auto* grid = new QGridLayout;
    m_name = new QLineEdit(content);
    m_name->setObjectName(QStringLiteral("bltName"));
    m_pin = new QLineEdit(content);
    m_pin->setObjectName(QStringLiteral("bltPin"));
    m_pin->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel(QStringLiteral("Name :"), content), 0, 0);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Pin :"), content), 1, 0);
    grid->addWidget(m_pin, 1, 1);
    column->addLayout(grid);
    column->addStretch(1);
    for (QLineEdit* edit : {m_name, m_pin}) {
        connect(edit, &QLineEdit::textEdited, this, [this] {
            MarkChanged();
            emit Changed();
        });
    }
}

void CBLT::SetWaiter(IWaiter* waiter)
{
    m_waiter = waiter ? waiter : &CEventPumpWaiter::Instance();
}

void CBLT::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(QStringLiteral("@scr stoperrors off\nprint,/par/blt/name\nprint,/par/blt/pin\n@end\n"))) {
        QueryFailed(batch.FailureText());
        return;
    }
    LoadQuoted(batch.Value(0), m_name);
    LoadQuoted(batch.Value(1), m_pin);
}

QString CBLT::ApplySettings()
{
    // In double quotes, as the setup script writes them: a name may hold blanks and commas.
    if (!SetEditParam(QStringLiteral("/par/blt/name"), m_name, true)) {
        return QStringLiteral("Cannot set BLT name");
    }
    if (!SetEditParam(QStringLiteral("/par/blt/pin"), m_pin, true)) {
        return QStringLiteral("Cannot set BLT pin");
    }
    if (g_configSheet) {
        g_configSheet->SetSheetVisible(false);
    }
    const QString error = RestartReceiver();
    if (error.isEmpty()) {
        ShowMessage(QStringLiteral("The receiver has been reset!"), QStringLiteral("Reset Receiver"),
                    PromptIcon::Information);
    }
    if (g_configSheet) {
        g_configSheet->SetSheetVisible(true);
    }
    return error;
}

QString CBLT::RestartReceiver()
{
    CReceiverHolder& holder = CReceiverHolder::Shared();
    if (!holder.Send(QStringLiteral("%%set,reset,yes"))) {
        // Refused (the receiver keeps running): the new name and PIN wait for its next start.
        return QStringLiteral("Cannot reset the receiver");
    }
    CConnection* connection = g_configSheet ? g_configSheet->Connection() : nullptr;
    const QString name = g_configSheet ? g_configSheet->ReceiverName() : QString();
    holder.CloseReceiver();
    const std::shared_ptr<CReceiver> receiver = holder.GetReceiver();
    for (int attempt = 1; attempt <= kReopenAttempts; ++attempt) {
        m_waiter->Wait(kReopenWaitMs);
        if (receiver->Open(connection, name, 0)) {
            if (g_configSheet) {
                g_configSheet->ReceiverReopened();
            }
            return QString();
        }
        qCInfo(lcConfig) << "Bluetooth apply: re-open" << attempt << "failed:" << receiver->GetReplyString();
    }
    return QStringLiteral("The receiver does not answer after the reset");
}

void CBLT::WriteScript()
{
    // Quoted as the receiver prints them, so that the names keep their blanks and commas.
    WriteEditParam(QStringLiteral("/par/blt/name"), m_name, true);
    WriteEditParam(QStringLiteral("/par/blt/pin"), m_pin, true);
}
