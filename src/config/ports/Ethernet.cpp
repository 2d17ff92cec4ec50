#include "config/ports/Ethernet.h"

#include "config/ScriptWriter.h"
#include "config/Toolkit.h"
#include "config/ports/PortGroup.h"
#include "config/ports/PortTables.h"
#include "link/ParamBatch.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/opts/cur/ETHR\nprint,/par/net/ip/addr\nprint,/par/net/ip/mask\n"
    "print,/par/net/ip/gw\nprint,/par/net/passwd\nprint,/par/net/tcp/port\nprint,/par/net/tcp/timeout\n"
    "print,/par/net/ftp/port\nprint,/par/net/ftp/timeout\n@end\n");

enum { kAddr, kMask, kGw, kPasswd, kTcpPort, kTcpTimeout, kFtpPort, kFtpTimeout };

const char* const kPaths[] = {"/par/net/ip/addr",  "/par/net/ip/mask",     "/par/net/ip/gw",    "/par/net/passwd",
                              "/par/net/tcp/port", "/par/net/tcp/timeout", "/par/net/ftp/port", "/par/net/ftp/timeout"};
const char* const kNames[] = {"ethAddress", "ethMask",       "ethGateway", "ethPassword",
                              "ethTcpPort", "ethTcpTimeout", "ethFtpPort", "ethFtpTimeout"};
const char* const kCaptions[] = {
    "IP Address:", "IP Mask:", "Gateway:", "Network Password:", "TCP Port:", "Timeout(s):", "FTP Port:", "Timeout(s):"};

// Apply order, with the check, the invalid text and the refused text of each edit.
enum class Check { Quad, Port, Timeout, Password };
struct Step
{
    int edit;
    Check check;
    const char* invalid;
    const char* refused;
};
const Step kSteps[] = {
    {kAddr, Check::Quad, "Invalid IP address", "Cannot set IP address"},
    {kMask, Check::Quad, "Invalid IP mask", "Cannot set IP mask"},
    {kGw, Check::Quad, "Invalid IP gateway", "Cannot set IP gateway"},
    {kTcpPort, Check::Port, "Invalid TCP Port", "Cannot set TCP Port"},
    {kTcpTimeout, Check::Timeout, "Invalid timeout", "Cannot set timeout"},
    {kFtpPort, Check::Port, "Invalid FTP Port", "Cannot set FTP Port"},
    {kFtpTimeout, Check::Timeout, "Invalid timeout", "Cannot set timeout"},
    {kPasswd, Check::Password, "Invalid Ethernet password", "Cannot set Ethernet password"},
};

constexpr int kMaxPassword = 15;

bool Passes(Check check, const QString& text)
{
    switch (check) {
        case Check::Quad:
            return IsDottedQuad(text);
        case Check::Port:
            return IsIntegerText(text) && text.trimmed().toInt() >= 1 && text.trimmed().toInt() <= 65535;
        case Check::Timeout:
            return IsIntegerText(text) && text.trimmed().toInt() >= 1;
        case Check::Password:
            // Sent in double quotes, and it has to pass as a value at all.
            return text.size() <= kMaxPassword && !text.contains(QLatin1Char('"')) && IsSafeParamValue(text);
    }
    return false;
}

}  // namespace

bool IsDottedQuad(const QString& text)
{
    static const QRegularExpression kQuad(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch m = kQuad.match(text.trimmed());
    if (!m.hasMatch()) {
        return false;
    }
    for (int i = 1; i <= 4; ++i) {
        if (m.captured(i).toInt() > 255) {
            return false;
        }
    }
    return true;
}

CEthernet::CEthernet(QWidget* parent) : CConfigPage(parent)
{
    QVBoxLayout* column = PageColumn(this);
    QWidget* content = column->parentWidget();
    auto* note = new QLabel(
        QStringLiteral("Warning: newly applied settings will be activated only after a receiver reset."), content);
    note->setWordWrap(true);
    column->addWidget(note);
    auto group = [&](const char* caption, std::initializer_list<int> edits) {
        auto* box = new QGroupBox(caption ? QLatin1String(caption) : QString(), content);
        auto* grid = new QGridLayout(box);
        int row = 0;
        for (int e : edits) {
            m_labels[size_t(e)] = new QLabel(QLatin1String(kCaptions[e]), box);
            m_edits[size_t(e)] = new QLineEdit(box);
            m_edits[size_t(e)]->setObjectName(QLatin1String(kNames[e]));
            if (e == kPasswd) {
                m_edits[size_t(e)]->setEchoMode(QLineEdit::Password);  // a surveyor's screen is seen by others
            }
            grid->addWidget(m_labels[size_t(e)], row, 0);
            grid->addWidget(m_edits[size_t(e)], row++, 1);
            connect(m_edits[size_t(e)], &QLineEdit::textEdited, this, [this] {
                MarkChanged();
                emit Changed();
            });
        }
        column->addWidget(box);
    };
    group("IP Setting", {kAddr, kMask, kGw});
    group("Telnet Settings", {kTcpPort, kTcpTimeout});
    group("FTP Settings", {kFtpPort, kFtpTimeout});
    group(nullptr, {kPasswd});
    column->addStretch(1);
}

void CEthernet::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    // A receiver that does not report the feature has no Ethernet the page could set.
    long long feature = 0;
    m_hasEthernet = ScanInt(batch.Value(0), &feature) && feature > 0;
    for (int e = 0; e < kEdits; ++e) {
        LoadEdit(m_hasEthernet ? batch.Value(1 + e) : nullptr, m_edits[size_t(e)], m_labels[size_t(e)], m_hasEthernet);
    }
}

QString CEthernet::ApplySettings()
{
    if (!m_hasEthernet) {
        return QString();
    }
    for (const Step& step : kSteps) {
        QLineEdit* edit = m_edits[size_t(step.edit)];
        if (!edit->isEnabled()) {
            continue;
        }
        if (!Passes(step.check, edit->text())) {
            edit->setFocus(Qt::OtherFocusReason);
            return QLatin1String(step.invalid);
        }
        if (!SetEditParam(QLatin1String(kPaths[step.edit]), edit, step.check == Check::Password)) {
            return QLatin1String(step.refused);
        }
    }
    return QString();
}

void CEthernet::WriteScript()
{
    if (!m_hasEthernet) {
        return;
    }
    for (int e = 0; e < kEdits; ++e) {
        WriteEditParam(QLatin1String(kPaths[e]), m_edits[size_t(e)], e == kPasswd);
    }
}
