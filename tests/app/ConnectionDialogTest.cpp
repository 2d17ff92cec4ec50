#include "app/AppTestSupport.h"
#include "app/ConnectionDialog.h"
#include "link/ConnectionInfo.h"
#include "link/Profile.h"
#include "link/ReceiverName.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

ConnectionChoice Serial(const QString& device, int baud = 115200, bool rtsCts = false)
{
    ConnectionChoice c;
    c.kind = ConnectionChoice::Kind::Serial;
    c.device = device;
    c.baud = baud;
    c.rtsCts = rtsCts;
    return c;
}

TEST(ConnectionChoice, ReceiverNamesForEachKind)
{
    EXPECT_EQ(ReceiverNameFor(ConnectionChoice{}), QStringLiteral("SIM:"));

    EXPECT_EQ(ReceiverNameFor(Serial(QStringLiteral("/dev/ttyUSB0"), 9600, true)),
              QStringLiteral("/dev/ttyUSB0:9600,rtscts"));
    // A pseudo-terminal is no listed port but a serial receiver all the same: it gets the "Stop" button.
    EXPECT_TRUE(IsSerialReceiverName(ReceiverNameFor(Serial(QStringLiteral("/dev/pts/4")))));

    QString why;
    for (const char* bad : {"", "/dev/ttyS0:1", "receiver"}) {
        why.clear();
        EXPECT_TRUE(ReceiverNameFor(Serial(QLatin1String(bad)), &why).isEmpty()) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
    ConnectionChoice tcp;
    tcp.kind = ConnectionChoice::Kind::Tcp;
    tcp.tcpAddress = QStringLiteral(" 127.0.0.1:8002 ");
    EXPECT_EQ(ReceiverNameFor(tcp), QStringLiteral("127.0.0.1:8002"));
    for (const char* bad : {"", "host", "host:", "host:0", "host:70000", ":8002"}) {
        tcp.tcpAddress = QLatin1String(bad);
        why.clear();
        EXPECT_TRUE(ReceiverNameFor(tcp, &why).isEmpty()) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }

    CONNECTION_INFO info;
    ConnectionChoice manual;
    manual.manualOnly = true;
    ASSERT_TRUE(FillConnectionInfo(manual, info));
    EXPECT_EQ(info.receivers, QStringList{QStringLiteral("SIM:")});
    EXPECT_TRUE(info.server.isEmpty());
    EXPECT_TRUE(info.manualOnly);
    EXPECT_FALSE(FillConnectionInfo(Serial(QString()), info));
}

using ConnectionSettings = FreshSettings;

TEST_F(ConnectionSettings, TheLastChoiceIsKept)
{
    CProfile* profile = CProfile::Instance();
    EXPECT_EQ(ReadConnectionChoice(*profile), ConnectionChoice{});
    const ConnectionChoice chosen = Serial(QStringLiteral("/dev/pts/7"), 921600, true);
    WriteConnectionChoice(*profile, chosen);
    EXPECT_EQ(ReadConnectionChoice(*profile), chosen);
    profile->WriteInt(QStringLiteral("Connection"), QStringLiteral("Baud"), -5);
    EXPECT_EQ(ReadConnectionChoice(*profile).baud, ConnectionChoice::kDefaultBaud);

    // A TCP receiver's password reaches the link but never the settings file.
    ConnectionChoice tcp;
    tcp.kind = ConnectionChoice::Kind::Tcp;
    tcp.tcpAddress = QStringLiteral("rcv.local:8002");
    tcp.password = QStringLiteral("s3cr3t-pw");
    CONNECTION_INFO info;
    ASSERT_TRUE(FillConnectionInfo(tcp, info));
    EXPECT_EQ(info.password, tcp.password);
    WriteConnectionChoice(*profile, tcp);
    EXPECT_TRUE(ReadConnectionChoice(*profile).password.isEmpty());
    profile->Sync();
    QFile file(CProfile::FileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("s3cr3t-pw"));
    // A server choice is kept without its password, and hands the password to the connect only.
    ConnectionChoice server;
    server.kind = ConnectionChoice::Kind::Server;
    server.serverAddress = QStringLiteral("tls://rcv.example:7020");
    server.serverUser = QStringLiteral("alice");
    server.serverReceiver = QStringLiteral("rover");
    server.password = QStringLiteral("secret");
    WriteConnectionChoice(*profile, server);
    ConnectionChoice read = ReadConnectionChoice(*profile);
    EXPECT_TRUE(read.password.isEmpty());
    read.password = server.password;
    EXPECT_EQ(read, server);
    ASSERT_TRUE(FillConnectionInfo(server, info));
    EXPECT_EQ(info.receivers, QStringList{QStringLiteral("rover")});
    EXPECT_EQ(info.server, server.serverAddress);
    EXPECT_EQ(info.user, QStringLiteral("alice"));
    EXPECT_EQ(info.password, QStringLiteral("secret"));
    server.serverReceiver.clear();
    EXPECT_FALSE(FillConnectionInfo(server, info));
    CProfile::Release();
}

TEST(ConnectionDialog, OffersTheChoicesAndRefusesAnUnusableOne)
{
    ConnectionChoice preset;
    preset.kind = ConnectionChoice::Kind::Tcp;
    preset.tcpAddress = QStringLiteral("rcv.local:8002");
    preset.device = QStringLiteral("/dev/ttyUSB0");
    preset.manualOnly = true;
    CConnectionDialog dialog(preset, {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB0")});
    EXPECT_EQ(dialog.Choice(), preset);
    auto* device = dialog.findChild<QComboBox*>(QStringLiteral("serialDevice"));
    auto* baud = dialog.findChild<QComboBox*>(QStringLiteral("baudRate"));
    ASSERT_TRUE(device && baud);
    EXPECT_EQ(device->count(), 2);
    EXPECT_FALSE(device->isEnabled());
    EXPECT_EQ(baud->itemText(0), QStringLiteral("4800"));
    EXPECT_EQ(baud->itemText(baud->count() - 1), QStringLiteral("921600"));

    dialog.findChild<QRadioButton*>(QStringLiteral("choiceSerial"))->setChecked(true);
    EXPECT_TRUE(device->isEnabled());
    EXPECT_FALSE(dialog.findChild<QLineEdit*>(QStringLiteral("tcpAddress"))->isEnabled());
    device->setCurrentText(QString());
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.findChild<QLabel*>(QStringLiteral("connectionError"))->text().isEmpty());

    // A device the machine does not list can be typed in.
    device->setCurrentText(QStringLiteral("/dev/pts/3"));
    baud->setCurrentIndex(baud->findText(QStringLiteral("38400")));
    dialog.findChild<QCheckBox*>(QStringLiteral("rtsCts"))->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const ConnectionChoice c = dialog.Choice();
    EXPECT_EQ(ReceiverNameFor(c), QStringLiteral("/dev/pts/3:38400,rtscts"));
    EXPECT_TRUE(c.manualOnly);
}

}  // namespace
