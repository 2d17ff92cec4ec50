#include "app/ConnectionDialog.h"

#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "link/Profile.h"
#include "link/ReceiverName.h"
#include "link/ServerTransport.h"
#include "ui/WindowFit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString kSection = QStringLiteral("Connection");

constexpr int kBaudRates[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

QString KindName(ConnectionChoice::Kind kind)
{
    switch (kind) {
        case ConnectionChoice::Kind::Serial:
            return QStringLiteral("serial");
        case ConnectionChoice::Kind::Tcp:
            return QStringLiteral("tcp");
        case ConnectionChoice::Kind::Server:
            return QStringLiteral("server");
        case ConnectionChoice::Kind::Simulator:
            break;
    }
    return QStringLiteral("simulator");
}

}  // namespace

std::span<const int> ConnectionBaudRates()
{
    return kBaudRates;
}

ConnectionChoice ReadConnectionChoice(const CProfile& profile)
{
    ConnectionChoice c;
    const QString kind = profile.ReadString(kSection, QStringLiteral("Kind"), KindName(c.kind));
    if (kind == KindName(ConnectionChoice::Kind::Serial)) {
        c.kind = ConnectionChoice::Kind::Serial;
    } else if (kind == KindName(ConnectionChoice::Kind::Tcp)) {
        c.kind = ConnectionChoice::Kind::Tcp;
    } else if (kind == KindName(ConnectionChoice::Kind::Server)) {
        c.kind = ConnectionChoice::Kind::Server;
    }
    c.serverAddress = profile.ReadString(kSection, QStringLiteral("Server"), c.serverAddress);
    c.serverUser = profile.ReadString(kSection, QStringLiteral("ServerUser"), c.serverUser);
    c.serverReceiver = profile.ReadString(kSection, QStringLiteral("ServerReceiver"), c.serverReceiver);
    c.device = profile.ReadString(kSection, QStringLiteral("Device"), c.device);
    c.baud = profile.ReadInt(kSection, QStringLiteral("Baud"), c.baud);
    if (c.baud <= 0) {
        c.baud = ConnectionChoice::kDefaultBaud;
    }
    c.rtsCts = profile.ReadBool(kSection, QStringLiteral("RtsCts"), c.rtsCts);
    c.tcpAddress = profile.ReadString(kSection, QStringLiteral("Address"), c.tcpAddress);
    c.manualOnly = profile.ReadBool(kSection, QStringLiteral("ManualOnly"), c.manualOnly);
    return c;
}

void WriteConnectionChoice(CProfile& profile, const ConnectionChoice& choice)
{
    profile.WriteString(kSection, QStringLiteral("Kind"), KindName(choice.kind));
    profile.WriteString(kSection, QStringLiteral("Device"), choice.device);
    profile.WriteInt(kSection, QStringLiteral("Baud"), choice.baud);
    profile.WriteBool(kSection, QStringLiteral("RtsCts"), choice.rtsCts);
    profile.WriteString(kSection, QStringLiteral("Address"), choice.tcpAddress);
    profile.WriteString(kSection, QStringLiteral("Server"), choice.serverAddress);
    profile.WriteString(kSection, QStringLiteral("ServerUser"), choice.serverUser);
    profile.WriteString(kSection, QStringLiteral("ServerReceiver"), choice.serverReceiver);
    profile.WriteBool(kSection, QStringLiteral("ManualOnly"), choice.manualOnly);
}

QString ReceiverNameFor(const ConnectionChoice& choice, QString* why)
{
    QString name;
    QString error;
    switch (choice.kind) {
        case ConnectionChoice::Kind::Simulator:
            name = QStringLiteral("SIM:");
            break;
        case ConnectionChoice::Kind::Serial: {
            const QString device = choice.device.trimmed();
            // A colon or comma would be read as the start of the port options.
            if (device.isEmpty() || device.contains(QLatin1Char(':')) || device.contains(QLatin1Char(','))) {
                error = QStringLiteral("Choose a serial port");
                break;
            }
            name = SerialReceiverName(device, choice.baud, choice.rtsCts);
            if (!IsSerialReceiverName(name)) {
                error = QStringLiteral("Not a serial port: %1").arg(device);
                name.clear();
            }
            break;
        }
        case ConnectionChoice::Kind::Tcp: {
            const QString address = choice.tcpAddress.trimmed();
            if (ParseReceiverName(address).kind != ReceiverAddress::Kind::Tcp) {
                error = QStringLiteral("Enter the receiver's address as host:port");
                break;
            }
            name = address;
            break;
        }
        case ConnectionChoice::Kind::Server: {
            QString host;
            quint16 port = 0;
            bool tls = false;
            if (!ParseServerAddress(choice.serverAddress, host, port, tls)) {
                error = QStringLiteral("Enter the server's address as host:port");
            } else if (choice.serverUser.trimmed().isEmpty()) {
                error = QStringLiteral("Enter your user name at the server");
            } else if (choice.serverReceiver.trimmed().isEmpty()) {
                error = QStringLiteral("Choose a receiver of the server");
            } else {
                name = choice.serverReceiver.trimmed();
            }
            break;
        }
    }
    if (why) {
        *why = error;
    }
    return name;
}

bool FillConnectionInfo(const ConnectionChoice& choice, CONNECTION_INFO& info, QString* why)
{
    const QString name = ReceiverNameFor(choice, why);
    if (name.isEmpty()) {
        return false;
    }
    info.receivers = {name};
    if (choice.kind == ConnectionChoice::Kind::Server) {
        info.server = choice.serverAddress.trimmed();
        info.user = choice.serverUser.trimmed();
        info.password = choice.password;
    } else {
        // Direct connections: no server, so no user name; a receiver's TCP port may ask for its own password.
        info.server.clear();
        info.user.clear();
        info.password = choice.kind == ConnectionChoice::Kind::Tcp ? choice.password : QString();
    }
    info.manualOnly = choice.manualOnly;
    return true;
}

QStringList AvailableSerialPorts()
{
    QStringList ports;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        ports << port.systemLocation();
    }
    ports.sort();
    return ports;
}

CConnectionDialog::CConnectionDialog(const ConnectionChoice& preset, const QStringList& serialPorts, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("connectionDialog"));
    setWindowTitle(QStringLiteral("Connection"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout();

    m_simulator = new QRadioButton(QStringLiteral("Built-in simulator"), this);
    m_simulator->setObjectName(QStringLiteral("choiceSimulator"));
    m_serial = new QRadioButton(QStringLiteral("Serial port"), this);
    m_serial->setObjectName(QStringLiteral("choiceSerial"));
    m_tcp = new QRadioButton(QStringLiteral("Receiver TCP address"), this);
    m_tcp->setObjectName(QStringLiteral("choiceTcp"));
    m_server = new QRadioButton(QStringLiteral("Receiver server"), this);
    m_server->setObjectName(QStringLiteral("choiceServer"));
    auto* group = new QButtonGroup(this);
    group->addButton(m_simulator);
    group->addButton(m_serial);
    group->addButton(m_tcp);
    group->addButton(m_server);
    m_serverAddress = new QLineEdit(this);
    m_serverAddress->setObjectName(QStringLiteral("serverAddress"));
    m_serverAddress->setPlaceholderText(QStringLiteral("host:port"));
    m_serverUser = new QLineEdit(this);
    m_serverUser->setObjectName(QStringLiteral("serverUser"));
    m_serverUser->setPlaceholderText(QStringLiteral("user"));
    m_serverPassword = new QLineEdit(this);
    m_serverPassword->setObjectName(QStringLiteral("serverPassword"));
    m_serverPassword->setPlaceholderText(QStringLiteral("password"));
    m_serverPassword->setEchoMode(QLineEdit::Password);
    m_serverReceiver = new QComboBox(this);
    m_serverReceiver->setObjectName(QStringLiteral("serverReceiver"));
    m_serverReceiver->setEditable(true);
    auto* list = new QPushButton(QStringLiteral("Receivers"), this);
    list->setObjectName(QStringLiteral("serverList"));
    connect(list, &QPushButton::clicked, this, &CConnectionDialog::ListServerReceivers);

    // Ports this machine lists; a device the list lacks (a pseudo-terminal, say) can be typed in.
    m_device = new QComboBox(this);
    m_device->setObjectName(QStringLiteral("serialDevice"));
    m_device->setEditable(true);
    m_device->addItems(serialPorts);
    m_baud = new QComboBox(this);
    m_baud->setObjectName(QStringLiteral("baudRate"));
    for (int baud : kBaudRates) {
        m_baud->addItem(QString::number(baud), baud);
    }
    m_rtsCts = new QCheckBox(QStringLiteral("RTS/CTS"), this);
    m_rtsCts->setObjectName(QStringLiteral("rtsCts"));
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("tcpAddress"));
    m_address->setPlaceholderText(QStringLiteral("host:port"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("tcpPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("password, if the receiver asks for a login"));
    m_manualOnly = new QCheckBox(QStringLiteral("Manual mode only"), this);
    m_manualOnly->setObjectName(QStringLiteral("manualOnly"));
    // Fields without a label of their own: a placeholder is gone once something is typed.
    for (const auto& [field, name] : {std::pair<QWidget*, const char*>{m_serverAddress, "Server address"},
                                      {m_serverUser, "Server user"},
                                      {m_serverPassword, "Server password"},
                                      {m_serverReceiver, "Receiver on the server"},
                                      {m_device, "Serial port"},
                                      {m_baud, "Baud rate"},
                                      {m_address, "TCP address"},
                                      {m_password, "TCP password"}}) {
        field->setAccessibleName(QLatin1String(name));
    }
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("connectionError"));
    m_error->setWordWrap(true);

    grid->addWidget(m_simulator, 0, 0, 1, 3);
    grid->addWidget(m_serial, 1, 0, 1, 3);
    grid->addWidget(m_device, 2, 0, 1, 3);
    grid->addWidget(m_baud, 3, 0);
    grid->addWidget(m_rtsCts, 3, 1);
    grid->addWidget(m_tcp, 4, 0, 1, 3);
    grid->addWidget(m_address, 5, 0, 1, 3);
    grid->addWidget(m_password, 6, 0, 1, 3);
    grid->addWidget(m_server, 7, 0, 1, 3);
    grid->addWidget(m_serverAddress, 8, 0, 1, 3);
    grid->addWidget(m_serverUser, 9, 0);
    grid->addWidget(m_serverPassword, 9, 1, 1, 2);
    grid->addWidget(m_serverReceiver, 10, 0, 1, 2);
    grid->addWidget(list, 10, 2);
    layout->addLayout(grid);
    layout->addWidget(m_manualOnly);
    layout->addWidget(m_error);
    layout->addStretch(1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("connectionButtons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CConnectionDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CConnectionDialog::reject);
    layout->addWidget(buttons);

    for (QRadioButton* b : {m_simulator, m_serial, m_tcp, m_server}) {
        connect(b, &QRadioButton::toggled, this, &CConnectionDialog::UpdateEnabled);
    }
    SetChoice(preset);
    FitToScreen(this);
}

void CConnectionDialog::SetChoice(const ConnectionChoice& choice)
{
    switch (choice.kind) {
        case ConnectionChoice::Kind::Simulator:
            m_simulator->setChecked(true);
            break;
        case ConnectionChoice::Kind::Serial:
            m_serial->setChecked(true);
            break;
        case ConnectionChoice::Kind::Tcp:
            m_tcp->setChecked(true);
            break;
        case ConnectionChoice::Kind::Server:
            m_server->setChecked(true);
            break;
    }
    m_serverAddress->setText(choice.serverAddress);
    m_serverUser->setText(choice.serverUser);
    m_serverPassword->setText(choice.password);
    m_serverReceiver->setCurrentText(choice.serverReceiver);
    if (!choice.device.isEmpty()) {
        m_device->setCurrentText(choice.device);
    }
    int baud = m_baud->findData(choice.baud);
    if (baud < 0) {
        baud = m_baud->findData(ConnectionChoice::kDefaultBaud);
    }
    m_baud->setCurrentIndex(baud);
    m_rtsCts->setChecked(choice.rtsCts);
    m_address->setText(choice.tcpAddress);
    m_password->setText(choice.password);
    m_manualOnly->setChecked(choice.manualOnly);
    UpdateEnabled();
}

ConnectionChoice CConnectionDialog::Choice() const
{
    ConnectionChoice c;
    c.kind = m_serial->isChecked()   ? ConnectionChoice::Kind::Serial
             : m_tcp->isChecked()    ? ConnectionChoice::Kind::Tcp
             : m_server->isChecked() ? ConnectionChoice::Kind::Server
                                     : ConnectionChoice::Kind::Simulator;
    c.serverAddress = m_serverAddress->text().trimmed();
    c.serverUser = m_serverUser->text().trimmed();
    c.serverReceiver = m_serverReceiver->currentText().trimmed();
    c.device = m_device->currentText().trimmed();
    c.baud = m_baud->currentData().toInt();
    c.rtsCts = m_rtsCts->isChecked();
    c.tcpAddress = m_address->text().trimmed();
    // One password field per kind: the server's login or the receiver port's own.
    c.password = c.kind == ConnectionChoice::Kind::Server ? m_serverPassword->text() : m_password->text();
    c.manualOnly = m_manualOnly->isChecked();
    return c;
}

void CConnectionDialog::UpdateEnabled()
{
    const bool serial = m_serial->isChecked();
    m_device->setEnabled(serial);
    m_baud->setEnabled(serial);
    m_rtsCts->setEnabled(serial);
    m_address->setEnabled(m_tcp->isChecked());
    m_password->setEnabled(m_tcp->isChecked());
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_serverAddress, m_serverUser, m_serverPassword, m_serverReceiver}) {
        w->setEnabled(m_server->isChecked());
    }
    m_error->clear();
}

void CConnectionDialog::ListServerReceivers()
{
    m_server->setChecked(true);
    const ConnectionChoice c = Choice();
    CConnection connection;
    if (!connection.Open(c.serverAddress, c.serverUser, c.password, QStringLiteral("Nemola-M"))) {
        m_error->setText(connection.GetMsgText());
        return;
    }
    const QStringList receivers = connection.GetRcvList();
    m_serverReceiver->clear();
    m_serverReceiver->addItems(receivers);
    m_error->setText(receivers.isEmpty() ? QStringLiteral("The server offers no receiver") : QString());
}

void CConnectionDialog::accept()
{
    QString why;
    if (ReceiverNameFor(Choice(), &why).isEmpty()) {
        m_error->setText(why);
        return;
    }
    QDialog::accept();
}

bool ChooseReceiverWithDialog(CProfile& profile, CONNECTION_INFO& info, QWidget* parent, bool simulator)
{
    ConnectionChoice preset = ReadConnectionChoice(profile);
    if (simulator) {
        preset.kind = ConnectionChoice::Kind::Simulator;
    }
    CConnectionDialog dialog(preset, AvailableSerialPorts(), parent);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const ConnectionChoice choice = dialog.Choice();
    WriteConnectionChoice(profile, choice);
    return FillConnectionInfo(choice, info);
}
