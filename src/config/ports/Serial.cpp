#include "config/ports/Serial.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/PortGroup.h"
#include "config/ports/PortTables.h"
#include "link/ParamBatch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/cur/term\nprint,/dev/ser/a\nprint,/dev/ser/b\nprint,/dev/ser/c\nprint,/dev/ser/d\n"
    "print,/par/opts/cur/RS_A\nprint,/par/opts/cur/RS_B\nprint,/par/opts/cur/RS_C\nprint,/par/opts/cur/RS_D\n"
    "print,/par/dev/ser/a/imode\nprint,/par/dev/ser/b/imode\nprint,/par/dev/ser/c/imode\nprint,/par/dev/ser/d/imode\n"
    "print,/par/dev/ser/a/rtscts\nprint,/par/dev/ser/b/rtscts\nprint,/par/dev/ser/c/rtscts\n"
    "print,/par/dev/ser/d/rtscts\nprint,/par/dev/ser/a/rate\nprint,/par/dev/ser/b/rate\nprint,/par/dev/ser/c/rate\n"
    "print,/par/dev/ser/d/rate\nprint,/par/out/dev/ser/a:on\nprint,/par/out/dev/ser/b:on\n"
    "print,/par/out/dev/ser/c:on\nprint,/par/out/dev/ser/d:on\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");

}  // namespace

CSerial::CSerial(QWidget* parent) : CConfigPage(parent)
{
    QVBoxLayout* column = PageColumn(this);
    QWidget* content = column->parentWidget();
    for (int i = 0; i < kPorts; ++i) {
        const QChar letter = QLatin1Char(char('a' + i));
        auto* group =
            new CPortGroup(QStringLiteral("/dev/ser/") + letter, QStringLiteral("Serial ") + letter.toUpper(), content);
        m_groups[size_t(i)] = group;
        m_baudLabels[size_t(i)] = new QLabel(QStringLiteral("Baud rate:"), group);
        m_bauds[size_t(i)] = new QComboBox(group);
        m_bauds[size_t(i)]->setObjectName(group->objectName() + QStringLiteral("Baud"));
        m_rtscts[size_t(i)] = new QCheckBox(QStringLiteral("RTS/CTS"), group);
        m_rtscts[size_t(i)]->setObjectName(group->objectName() + QStringLiteral("Rtscts"));
        group->Grid()->addWidget(m_baudLabels[size_t(i)], 0, 2);
        group->Grid()->addWidget(m_bauds[size_t(i)], 0, 3);
        group->Grid()->addWidget(m_rtscts[size_t(i)], 1, 2, 1, 2);
        column->addWidget(group);
        connect(group, &CPortGroup::Changed, this, [this] {
            MarkChanged();
            emit Changed();
        });
        connect(m_bauds[size_t(i)], &QComboBox::activated, this, [this] {
            MarkChanged();
            emit Changed();
        });
        connect(m_rtscts[size_t(i)], &QCheckBox::clicked, this, [this] {
            MarkChanged();
            emit Changed();
        });
    }
    column->addStretch(1);
}

void CSerial::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };
    g_curTermPort = r(0) ? *r(0) : QString();

    for (int i = 0; i < kPorts; ++i) {
        CPortGroup* group = m_groups[size_t(i)];
        QComboBox* baud = m_bauds[size_t(i)];
        baud->clear();
        bool available = r(9 + i) != nullptr;
        const QString max = MaxBaudRate(r(5 + i));
        if (max.toLongLong() <= 0) {
            available = false;
        } else {
            for (const QString& rate : kBaudRates) {
                baud->addItem(rate);
                if (rate == max) {
                    break;
                }
            }
        }
        group->Reset(available);
        m_baudLabels[size_t(i)]->setEnabled(available);
        baud->setEnabled(available);
        m_rtscts[size_t(i)]->setEnabled(available);
        m_rtscts[size_t(i)]->setChecked(false);
        if (available) {
            LoadComboValue(r(17 + i), kBaudRates, baud, kBaudRates, m_baudLabels[size_t(i)]);
            LoadCheckList(r(13 + i), {m_rtscts[size_t(i)]});
            group->Load(r(9 + i), r(21 + i));
        } else {
            baud->setCurrentIndex(-1);
        }
        if (IsControllerPort(group->Port())) {
            group->Protect();
            baud->setEnabled(false);
            m_rtscts[size_t(i)]->setEnabled(false);
        }
        group->ApplyPeriodRule();
        group->RememberLoaded({baud, m_rtscts[size_t(i)]});
    }
}

QString CSerial::ApplySettings()
{
    if (QString e = CheckOutputs(m_groups); !e.isEmpty()) {
        return e;
    }
    for (int i = 0; i < kPorts; ++i) {
        CPortGroup* group = m_groups[size_t(i)];
        if (!group->IsConfigurable()) {
            continue;
        }
        const QString& port = group->Port();
        QComboBox* baud = m_bauds[size_t(i)];
        if (group->IsChanged(baud)) {
            if (!SetComboParam(group->Param("/rate"), kBaudRates, baud, kBaudRates)) {
                return PortError("Can't set baud rate for ", port);
            }
            group->Accept({baud});
        }
        QCheckBox* rtscts = m_rtscts[size_t(i)];
        if (group->IsChanged(rtscts)) {
            if (!SetCheckParam(group->Param("/rtscts"), rtscts, kOn, kOff)) {
                return PortError("Can't set RTS/CTS mode for ", port);
            }
            group->Accept({rtscts});
        }
        if (QString e = group->ApplyInputAndOutput(false); !e.isEmpty()) {
            return e;
        }
    }
    return QString();
}

void CSerial::WriteScript()
{
    for (int i = 0; i < kPorts; ++i) {
        if (!m_groups[size_t(i)]->IsConfigurable()) {
            continue;
        }
        CPortGroup* group = m_groups[size_t(i)];
        WritePortGuard(group->Port());
        group->WriteInput();
        group->WriteCurrent({"/echo", "/eoff", "/ewrap", "/stops"});
        WriteComboParam(group->Param("/rate"), kBaudRates, m_bauds[size_t(i)], kBaudRates);
        WriteCheckListParam(group->Param("/rtscts"), {m_rtscts[size_t(i)]}, kOn, kOff, false);
        group->WriteMessages();
        WritePortGuardEnd(group->Port());
    }
}
