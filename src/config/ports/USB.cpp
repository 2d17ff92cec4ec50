#include "config/ports/USB.h"

#include "config/ScriptWriter.h"
#include "config/ports/PortGroup.h"
#include "config/ports/PortTables.h"
#include "link/ParamBatch.h"

#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/dev/usb/a/imode\nprint,/par/opts/cur/_USB\nprint,/par/out/dev/usb/a:on\n@end\n");

}  // namespace

CUSB::CUSB(QWidget* parent) : CConfigPage(parent)
{
    QVBoxLayout* column = PageColumn(this);
    m_group = new CPortGroup(QStringLiteral("/dev/usb/a"), QStringLiteral("USB"), column->parentWidget());
    column->addWidget(m_group);
    column->addStretch(1);
    connect(m_group, &CPortGroup::Changed, this, [this] {
        MarkChanged();
        emit Changed();
    });
}

void CUSB::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    long long feature = 0;
    const bool available = batch.Value(0) && ScanInt(batch.Value(1), &feature) && feature >= 1;
    m_group->Reset(available);
    m_group->Load(batch.Value(0), batch.Value(2));
    if (IsControllerPort(m_group->Port())) {
        m_group->Protect();
    }
    m_group->ApplyPeriodRule();
    m_group->RememberLoaded();
}

QString CUSB::ApplySettings()
{
    if (!m_group->IsConfigurable()) {
        return QString();
    }
    if (QString e = m_group->CheckOutput(); !e.isEmpty()) {
        return e;
    }
    return m_group->ApplyInputAndOutput(false);
}

void CUSB::WriteScript()
{
    if (!m_group->IsConfigurable()) {
        return;
    }
    WritePortGuard(m_group->Port());
    m_group->WriteInput();
    m_group->WriteCurrent({"/echo", "/eoff", "/ewrap"});
    m_group->WriteMessages();
    WritePortGuardEnd(m_group->Port());
}
