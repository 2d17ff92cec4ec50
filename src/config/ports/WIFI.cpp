#include "config/ports/WIFI.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/Ethernet.h"
#include "config/ports/PortGroup.h"
#include "link/ParamBatch.h"
#include "link/Profile.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/net/wlan/mode\nprint,/par/net/wlan/ip/addr\nprint,/par/net/wlan/ip/gw\n"
    "print,/par/net/wlan/ip/mask\nprint,/par/net/wlan/ap/id\nprint,/par/net/tcp/port\nprint,/par/net/passwd\n@end\n");

const QString kOn = QStringLiteral("on");
const QString kOff = QStringLiteral("off");

// The text inside a value's double quotes; a value not in quotes is its own text.
QString StripQuotes(const QString& value)
{
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) {
        return value.mid(1, value.size() - 2);
    }
    return value;
}

QString KeyPath(int key)
{
    return QStringLiteral("/par/net/wlan/ap/key%1").arg(key + 1);
}

}  // namespace

const QString CWIFI::kKeyMask = QString(26, QLatin1Char('*'));

bool IsMacAddress(const QString& text)
{
    static const QRegularExpression kMac(QStringLiteral("^[0-9A-Fa-f]{1,2}(:[0-9A-Fa-f]{1,2}){5}$"));
    return kMac.match(text.trimmed()).hasMatch();
}

QString TwoDigitMac(const QString& text)
{
    QStringList fields = text.trimmed().split(QLatin1Char(':'));
    for (QString& field : fields) {
        field = field.rightJustified(2, QLatin1Char('0'));
    }
    return fields.join(QLatin1Char(':'));
}

bool IsWifiKey(const QString& text)
{
    static const QRegularExpression kKey(QStringLiteral("^[0-9A-Fa-f]{0,26}$"));
    return kKey.match(text).hasMatch();
}

CWIFI::CWIFI(QWidget* parent) : CConfigPage(parent)
{
    QVBoxLayout* column = PageColumn(this);
    QWidget* content = column->parentWidget();
    auto* note = new QLabel(
        QStringLiteral("Warning: newly applied settings will be activated only after a receiver reset."), content);
    note->setWordWrap(true);
    column->addWidget(note);
    m_mode = new QCheckBox(QStringLiteral("Turn Wi-Fi on"), content);
    m_mode->setObjectName(QStringLiteral("wifiOn"));
    column->addWidget(m_mode);
    auto mark = [this] {
        MarkChanged();
        emit Changed();
    };
    connect(m_mode, &QCheckBox::clicked, this, mark);
    auto* box = new QGroupBox(content);
    auto* grid = new QGridLayout(box);
    int row = 0;
    auto edit = [&](const char* caption, const char* name) {
        auto* e = new QLineEdit(box);
        e->setObjectName(QLatin1String(name));
        grid->addWidget(new QLabel(QLatin1String(caption), box), row, 0);
        grid->addWidget(e, row++, 1);
        connect(e, &QLineEdit::textEdited, this, mark);
        return e;
    };
    m_address = edit("IP Address :", "wifiAddress");
    m_gateway = edit("Gateway :", "wifiGateway");
    m_mask = edit("Mask :", "wifiMask");
    m_accessPoint = edit("MAC access point :", "wifiAccessPoint");
    const char* keyCaptions[] = {"Key1 :", "Key2 :", "Key3 :", "Key4 :"};
    const char* keyNames[] = {"wifiKey1", "wifiKey2", "wifiKey3", "wifiKey4"};
    for (int k = 0; k < kKeys; ++k) {
        QLineEdit* key = edit(keyCaptions[k], keyNames[k]);
        key->setEchoMode(QLineEdit::Password);
        connect(key, &QLineEdit::textEdited, this, [this, k] { m_typed[size_t(k)] = true; });
        m_keys[size_t(k)] = key;
    }
    column->addWidget(box);
    column->addStretch(1);
}

bool CWIFI::IsTyped(int key) const
{
    return m_keys[size_t(key)]->isEnabled() && m_typed[size_t(key)];
}

void CWIFI::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    auto r = [&batch](int i) { return batch.Value(i); };
    LoadCheck(r(0), kOn, m_mode);
    LoadEditPlain(r(1), m_address, true);
    LoadEditPlain(r(2), m_gateway, true);
    LoadEditPlain(r(3), m_mask, true);
    LoadEdit(r(4), m_accessPoint, nullptr, true);
    // The keys are never read back: an empty edit under the mask means "unchanged", and only a typed key (even one
    // typed empty) is sent.
    m_typed = {};
    for (QLineEdit* key : m_keys) {
        key->clear();
        key->setPlaceholderText(r(0) ? kKeyMask : QString());
        key->setEnabled(r(0) != nullptr);
    }
    if (r(5)) {
        m_tcpPort = *r(5);
    }
    if (r(6)) {
        m_passwd = StripQuotes(*r(6));
    }
}

QString CWIFI::ApplySettings()
{
    struct Step
    {
        QLineEdit* edit;
        bool mac;
        const char* path;
        const char* invalid;
        const char* refused;
    };
    const Step steps[] = {
        {m_address, false, "/par/net/wlan/ip/addr", "Invalid IP address", "Cannot set IP address"},
        {m_gateway, false, "/par/net/wlan/ip/gw", "Invalid GATEWAY address", "Cannot set GATEWAY address"},
        {m_mask, false, "/par/net/wlan/ip/mask", "Invalid MASK", "Cannot set MASK"},
        {m_accessPoint, true, "/par/net/wlan/ap/id", "Invalid MAC address", "Cannot set MAC address"},
    };
    // Every typed value is checked before anything is sent. An edit the receiver did not report is neither.
    for (const Step& step : steps) {
        if (step.edit->isEnabled() && !(step.mac ? IsMacAddress(step.edit->text()) : IsDottedQuad(step.edit->text()))) {
            step.edit->setFocus(Qt::OtherFocusReason);
            return QLatin1String(step.invalid);
        }
    }
    // A key not typed since the page was read is not sent.
    for (int k = 0; k < kKeys; ++k) {
        if (IsTyped(k) && !IsWifiKey(m_keys[size_t(k)]->text())) {
            m_keys[size_t(k)]->setFocus(Qt::OtherFocusReason);
            return QStringLiteral("Invalid Key%1").arg(k + 1);
        }
    }
    // The receiver takes two digits a field; the edit shows what is sent.
    if (m_accessPoint->isEnabled()) {
        m_accessPoint->setText(TwoDigitMac(m_accessPoint->text()));
    }

    if (!SetCheckParam(QStringLiteral("/par/net/wlan/mode"), m_mode, kOn, kOff)) {
        return QStringLiteral("Cannot set Wi-Fi mode");
    }
    for (const Step& step : steps) {
        if (!SetEditParam(QLatin1String(step.path), step.edit, true)) {
            return QLatin1String(step.refused);
        }
    }
    for (int k = 0; k < kKeys; ++k) {
        if (IsTyped(k) && !SetEditParam(KeyPath(k), m_keys[size_t(k)], true)) {
            return QStringLiteral("Cannot set Key%1").arg(k + 1);
        }
    }
    const QString entry = m_mode->isChecked() ? QStringLiteral("WIFI:") + m_address->text() + QLatin1Char(':') +
                                                    m_tcpPort + QLatin1Char(':') + m_passwd + QLatin1Char(',')
                                              : QString();
    CProfile::Instance()->WriteString(QStringLiteral("LServer"), QStringLiteral("WIFI"), entry);
    CProfile::Release();
    return QString();
}

void CWIFI::WriteScript()
{
    WriteCheckParam(QStringLiteral("/par/net/wlan/mode"), m_mode, kOn, kOff);
    WriteEditParam(QStringLiteral("/par/net/wlan/ip/addr"), m_address, false);
    WriteEditParam(QStringLiteral("/par/net/wlan/ip/gw"), m_gateway, false);
    WriteEditParam(QStringLiteral("/par/net/wlan/ip/mask"), m_mask, false);
    WriteEditParam(QStringLiteral("/par/net/wlan/ap/id"), m_accessPoint, true);
    for (int k = 0; k < kKeys; ++k) {
        if (IsTyped(k)) {
            WriteEditParam(KeyPath(k), m_keys[size_t(k)], true);
        }
    }
}
