#include "config/ports/TCP.h"

#include "config/PageParts.h"
#include "config/ScriptWriter.h"
#include "config/ports/PortGroup.h"
#include "config/ports/PortTables.h"
#include "link/ParamBatch.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,net:on\nprint,/par/opts/cur/_TCP\nprint,/par/dev/tcp/a/imode\n"
    "print,/par/dev/tcp/b/imode\nprint,/par/dev/tcp/c/imode\nprint,/par/dev/tcp/d/imode\n"
    "print,/par/dev/tcp/e/imode\nprint,/par/opts/cur/RS_A\nprint,/par/opts/cur/RS_B\nprint,/par/opts/cur/RS_C\n"
    "print,/par/opts/cur/RS_D\nprint,/par/opts/cur/RS_E\nprint,/par/out/dev/tcp/a:on\nprint,/par/out/dev/tcp/b:on\n"
    "print,/par/out/dev/tcp/c:on\nprint,/par/out/dev/tcp/d:on\nprint,/par/out/dev/tcp/e:on\n@end\n");

constexpr int kMaxField = 63;

// The text from `pos` up to (not including) `stop`, at most kMaxField characters; false when `stop` is not there.
bool Field(const QString& text, int* pos, QChar stop, QString* out)
{
    const int end = int(text.indexOf(stop, *pos));
    if (end < 0 || end == *pos || end - *pos > kMaxField) {
        return false;
    }
    *out = text.mid(*pos, end - *pos);
    *pos = end + 1;
    return true;
}

}  // namespace

std::array<QString, 5> TcpClientAddresses(const QString& status)
{
    std::array<QString, 5> out;
    static const QString kStart = QStringLiteral("stat={tcpd={");
    static const QString kEntry = QStringLiteral("={ip=");
    static const QString kPort = QStringLiteral("port=");
    static const QString kDev = QStringLiteral("dev=");
    int pos = int(status.indexOf(kStart));
    if (pos < 0) {
        return out;
    }
    for (int n = 0; n < 5; ++n) {
        const int entry = int(status.indexOf(kEntry, pos));
        if (entry < 0) {
            break;
        }
        pos = entry + int(kEntry.size());
        int at = pos;
        QString ip;
        QString port;
        if (!Field(status, &at, QLatin1Char(','), &ip) || !status.mid(at).startsWith(kPort)) {
            continue;
        }
        at += int(kPort.size());
        if (!Field(status, &at, QLatin1Char(','), &port) || !status.mid(at).startsWith(kDev) ||
            at + kDev.size() >= status.size()) {
            continue;
        }
        const int letter = int(QStringLiteral("abcde").indexOf(status[at + int(kDev.size())]));
        if (letter >= 0) {
            out[size_t(letter)] = ip + QLatin1Char(':') + port;
        }
    }
    return out;
}

CTCP::CTCP(QWidget* parent) : CConfigPage(parent)
{
    QVBoxLayout* column = PageColumn(this);
    for (int i = 0; i < kPorts; ++i) {
        const QChar letter = QLatin1Char(char('a' + i));
        auto* group = new CPortGroup(QStringLiteral("/dev/tcp/") + letter, QStringLiteral("TCP ") + letter.toUpper(),
                                     column->parentWidget());
        m_groups[size_t(i)] = group;
        m_clients[size_t(i)] = new QLineEdit(group);
        m_clients[size_t(i)]->setObjectName(group->objectName() + QStringLiteral("Client"));
        MakeDisplay(m_clients[size_t(i)]);
        m_clients[size_t(i)]->setEnabled(false);
        group->Grid()->addWidget(new QLabel(QStringLiteral("IP:"), group), 0, 2);
        group->Grid()->addWidget(m_clients[size_t(i)], 0, 3);
        column->addWidget(group);
        connect(group, &CPortGroup::Changed, this, [this] {
            MarkChanged();
            emit Changed();
        });
    }
    column->addStretch(1);
}

void CTCP::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    if (const QString* status = batch.Value(0)) {
        const std::array<QString, 5> clients = TcpClientAddresses(*status);
        std::copy(clients.begin(), clients.end(), m_clientText.begin());
    }
    for (int i = 0; i < kPorts; ++i) {
        CPortGroup* group = m_groups[size_t(i)];
        group->Reset(batch.Value(2 + i) != nullptr);
        group->Load(batch.Value(2 + i), batch.Value(12 + i));
        if (IsControllerPort(group->Port())) {
            group->Protect();
        }
        group->ApplyPeriodRule();
        group->RememberLoaded();
        m_clients[size_t(i)]->setText(group->IsAvailable() ? m_clientText[size_t(i)] : QString());
        m_clients[size_t(i)]->setEnabled(group->IsAvailable());
    }
}

QString CTCP::ApplySettings()
{
    if (QString e = CheckOutputs(m_groups); !e.isEmpty()) {
        return e;
    }
    for (CPortGroup* group : m_groups) {
        if (!group->IsConfigurable()) {
            continue;
        }
        if (QString e = group->ApplyInputAndOutput(true); !e.isEmpty()) {
            return e;
        }
    }
    return QString();
}

void CTCP::WriteScript()
{
    for (int i = 0; i < kPorts; ++i) {
        if (!m_groups[size_t(i)]->IsConfigurable()) {
            continue;
        }
        CPortGroup* group = m_groups[size_t(i)];
        WritePortGuard(group->Port());
        group->WriteInput();
        group->WriteCurrent({"/echo", "/eoff", "/ewrap"});
        group->WriteMessages();
        WritePortGuardEnd(group->Port());
    }
}
