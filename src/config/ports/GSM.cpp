#include "config/ports/GSM.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/PortGroup.h"
#include "link/ParamBatch.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QStringList kModes{"off", "master", "slave"};

}  // namespace

QString CGSM::ModemPath(const QString& model)
{
    return model.startsWith(QLatin1String("ARVEN")) ? QStringLiteral("/par/modem/b/") : QStringLiteral("/par/modem/c/");
}

CGSM::CGSM(const QString& model, QWidget* parent)
    : CConfigPage(parent),
      m_modePath(ModemPath(model) + QStringLiteral("mode")),
      m_pinPath(ModemPath(model) + QStringLiteral("pin"))
{
    QVBoxLayout* column = PageColumn(this);
    QWidget* content = column->parentWidget();
    auto* grid = new QGridLayout;
    m_mode = new QComboBox(content);
    m_mode->setObjectName(QStringLiteral("gsmMode"));
    m_mode->addItems(kModes);
    m_mode->setCurrentIndex(0);
    m_pin = new QLineEdit(content);
    m_pin->setObjectName(QStringLiteral("gsmPin"));
    m_pin->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel(QStringLiteral("Turn GSM :"), content), 0, 0);
    grid->addWidget(m_mode, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("PIN :"), content), 1, 0);
    grid->addWidget(m_pin, 1, 1);
    column->addLayout(grid);
    column->addStretch(1);
    connect(m_mode, &QComboBox::activated, this, [this] {
        MarkChanged();
        emit Changed();
    });
    connect(m_pin, &QLineEdit::textEdited, this, [this] {
        m_pinIsDefault = false;
        MarkChanged();
        emit Changed();
    });
}

void CGSM::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(QStringLiteral("@scr stoperrors off\nprint,") + m_modePath + QStringLiteral("\nprint,") + m_pinPath +
                   QStringLiteral("\n@end\n"))) {
        QueryFailed(batch.FailureText());
        return;
    }
    LoadComboValue(batch.Value(0), kModes, m_mode, kModes, nullptr);
    LoadEdit(batch.Value(1), m_pin, nullptr, true);
    m_pinIsDefault = m_pin->text().isEmpty();
    if (m_pinIsDefault) {
        m_pin->setText(DefaultPin());
    }
}

bool CGSM::HasPin() const
{
    return m_pin->isEnabled() && !m_pinIsDefault;
}

QString CGSM::ApplySettings()
{
    if (!SetComboTextParam(m_modePath, m_mode)) {
        m_mode->setFocus(Qt::OtherFocusReason);
        return QStringLiteral("Cannot set GSM mode");
    }
    if (HasPin() && !SetEditParam(m_pinPath, m_pin, true)) {
        return QStringLiteral("Cannot set PIN");
    }
    return QString();
}

void CGSM::WriteScript()
{
    WriteComboParam(m_modePath, kModes, m_mode, kModes);
    if (HasPin()) {
        WriteEditParam(m_pinPath, m_pin, true);
    }
}
