#include "config/ports/CAN.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/PortGroup.h"
#include "config/ports/PortTables.h"
#include "link/ParamBatch.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/opts/cur/_CAN\nprint,/par/dev/can/a/imode\nprint,/par/dev/can/b/imode\n"
    "print,/par/opts/cur/RS_A\nprint,/par/opts/cur/RS_B\nprint,/par/out/dev/can/a:on\nprint,/par/out/dev/can/b:on\n"
    "print,/par/dev/can/a/rate\nprint,/par/dev/can/a/sid/in/first\nprint,/par/dev/can/a/sid/in/cnt\n"
    "print,/par/dev/can/a/sid/out/first\nprint,/par/dev/can/a/sid/out/cnt\nprint,/par/dev/can/b/rate\n"
    "print,/par/dev/can/b/sid/in/first\nprint,/par/dev/can/b/sid/in/cnt\nprint,/par/dev/can/b/sid/out/first\n"
    "print,/par/dev/can/b/sid/out/cnt\n@end\n");

const char* const kIdSuffixes[] = {"/sid/in/first", "/sid/in/cnt", "/sid/out/first", "/sid/out/cnt"};
const char* const kIdLabels[] = {
    "Input first SID :", "Input the number of SIDs:", "Output first SID :", "Output the number of SIDs:"};
const char* const kIdNames[] = {"InFirst", "InCount", "OutFirst", "OutCount"};
const char* const kIdErrors[] = {"Can't set First SID for Input for ", "Can't set The Number of SIDs for Input for ",
                                 "Can't set First SID for Output for ", "Can't set The Number of SIDs for Output for "};

}  // namespace

CCAN::CCAN(QWidget* parent) : CConfigPage(parent)
{
    QVBoxLayout* column = PageColumn(this);
    QWidget* content = column->parentWidget();
    auto mark = [this] {
        MarkChanged();
        emit Changed();
    };
    for (int i = 0; i < kPorts; ++i) {
        const QChar letter = QLatin1Char(char('a' + i));
        auto* group =
            new CPortGroup(QStringLiteral("/dev/can/") + letter, QStringLiteral("CAN ") + letter.toUpper(), content);
        m_groups[size_t(i)] = group;
        column->addWidget(group);
        connect(group, &CPortGroup::Changed, this, mark);

        auto* extra = new QGroupBox(content);
        auto* grid = new QGridLayout(extra);
        grid->addWidget(new QLabel(QStringLiteral("Baud Rate :"), extra), 0, 0);
        m_rates[size_t(i)] = new QComboBox(extra);
        m_rates[size_t(i)]->setObjectName(group->objectName() + QStringLiteral("Rate"));
        m_rates[size_t(i)]->addItems(kCanRates);
        grid->addWidget(m_rates[size_t(i)], 0, 1);
        connect(m_rates[size_t(i)], &QComboBox::activated, this, mark);
        for (int f = 0; f < kIdFields; ++f) {
            auto* edit = new QLineEdit(extra);
            edit->setObjectName(group->objectName() + QLatin1String(kIdNames[f]));
            grid->addWidget(new QLabel(QLatin1String(kIdLabels[f]), extra), 1 + f, 0);
            grid->addWidget(edit, 1 + f, 1);
            m_ids[size_t(i)][size_t(f)] = edit;
            connect(edit, &QLineEdit::textEdited, this, mark);
        }
        column->addWidget(extra);
    }
    column->addStretch(1);
}

void CCAN::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    for (int i = 0; i < kPorts; ++i) {
        CPortGroup* group = m_groups[size_t(i)];
        const bool available = batch.Value(1 + i) != nullptr;
        group->Reset(available);
        group->Load(batch.Value(1 + i), batch.Value(5 + i));
        group->ApplyPeriodRule();
        // The rate and identifiers of a port without a reported input mode are never sent: not to be edited.
        const int base = 7 + 5 * i;
        QComboBox* rate = m_rates[size_t(i)];
        LoadComboText(available ? batch.Value(base) : nullptr, rate);
        const auto& ids = m_ids[size_t(i)];
        for (int f = 0; f < kIdFields; ++f) {
            LoadEditPlain(batch.Value(base + 1 + f), ids[size_t(f)], true);
            ids[size_t(f)]->setEnabled(available && batch.Value(base + 1 + f));
        }
        group->RememberLoaded({rate, ids[0], ids[1], ids[2], ids[3]});
    }
}

QString CCAN::ApplySettings()
{
    if (QString e = CheckOutputs(m_groups); !e.isEmpty()) {
        return e;
    }
    for (int i = 0; i < kPorts; ++i) {
        CPortGroup* group = m_groups[size_t(i)];
        if (!group->IsAvailable()) {
            continue;
        }
        const QString& port = group->Port();
        if (QString e = group->ApplyInput(true); !e.isEmpty()) {
            return e;
        }
        QComboBox* rate = m_rates[size_t(i)];
        if (group->IsChanged(rate)) {
            if (!SetComboParam(group->Param("/rate"), kCanRates, rate, kCanRates)) {
                return PortError("Can't set baud rate for ", port);
            }
            group->Accept({rate});
        }
        // An identifier the receiver did not report is not sent (an empty value would be refused).
        for (int f = 0; f < kIdFields; ++f) {
            QLineEdit* id = m_ids[size_t(i)][size_t(f)];
            if (!group->IsChanged(id)) {
                continue;
            }
            if (!SetEditParam(group->Param(kIdSuffixes[f]), id, false)) {
                return PortError(kIdErrors[f], port);
            }
            group->Accept({id});
        }
        if (QString e = group->ApplyOutput(); !e.isEmpty()) {
            return e;
        }
    }
    return QString();
}

void CCAN::WriteScript()
{
    for (int i = 0; i < kPorts; ++i) {
        CPortGroup* group = m_groups[size_t(i)];
        if (group->IsAvailable()) {
            group->WriteInput();
            group->WriteCurrent({"/echo", "/eoff", "/ewrap"});
        }
        WriteComboParam(group->Param("/rate"), kCanRates, m_rates[size_t(i)], kCanRates);
        group->WriteCurrent({"/sid/in/first", "/sid/in/cnt", "/sid/out/first", "/sid/out/cnt"});
    }
}
