// The port pages against the simulator: availability, the controller's own port, output presets and the exact
// commands of the output step, addresses and texts of the network pages, the Bluetooth restart.

#include "PageTestSupport.h"

#include "config/ports/BLT.h"
#include "config/ports/CAN.h"
#include "config/ports/Ethernet.h"
#include "config/ports/GSM.h"
#include "config/ports/PortGroup.h"
#include "config/ports/PortTables.h"
#include "config/ports/Ports.h"
#include "config/ports/Serial.h"
#include "config/ports/TCP.h"
#include "config/ports/USB.h"
#include "config/ports/WIFI.h"
#include "link/Profile.h"
#include "ui/Waiter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QThread>

#include <tuple>

namespace {

// The setup a page sees: the sheet opened the receiver through the harness.
class CPortSheet : public CFakeSheet
{
public:
    CConnection* Connection() const override { return connection; }
    QString ReceiverName() const override { return name; }
    QString Model() const override { return model; }
    void ReceiverReopened() override { ++reopened; }

    CConnection* connection = nullptr;
    QString name;
    QString model;
    int reopened = 0;
};

template <typename Page>
class PortTest : public ::testing::Test
{
protected:
    void Open(const char* profile = "full", int rebootMs = 3000)
    {
        page.reset();
        sim.reset();
        SimOptions options = SimProfile(profile);
        options.rebootMs = rebootMs;
        sim = std::make_unique<CSharedSim>(options);
        sheet.connection = &sim->Connection();
        sheet.name = sim->Name();
        sheet.model = sim->Sim().Param(QStringLiteral("/par/rcv/model"));
        g_curTermPort = QStringLiteral("/dev/ser/a");  // as the serial page's query finds it
        if constexpr (std::is_same_v<Page, CGSM>) {
            page = std::make_unique<Page>(sheet.model);
        } else {
            page = std::make_unique<Page>();
        }
        page->QuerySettings();
        sim->ClearSentStatements();
    }
    template <typename T = QWidget>
    T* W(const QString& name) const
    {
        T* w = page->template findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QStringList Applied(QString* result = nullptr)
    {
        sim->ClearSentStatements();
        const QString r = page->ApplySettings();
        if (result) {
            *result = r;
        }
        return sim->SentStatements();
    }
    QStringList Script()
    {
        sheet.lines.clear();
        page->WriteScript();
        return sheet.lines;
    }

    CPortSheet sheet;
    CConfigSheetScope scope{&sheet};
    CScriptedPrompts prompts;
    std::unique_ptr<CSharedSim> sim;
    std::unique_ptr<Page> page;
};

using SerialTest = PortTest<CSerial>;
using TcpTest = PortTest<CTCP>;
using CanTest = PortTest<CCAN>;
using EthernetTest = PortTest<CEthernet>;
using WifiTest = PortTest<CWIFI>;
using GsmTest = PortTest<CGSM>;
using BltTest = PortTest<CBLT>;

// The waits of the restart move the simulated receiver's clock.
class CAdvanceWaiter : public IWaiter
{
public:
    explicit CAdvanceWaiter(CSimHarness& sim) : m_sim(sim) {}
    void Wait(int ms) override
    {
        ++waits;
        m_sim.Advance(ms);
    }
    int waits = 0;

private:
    CSimHarness& m_sim;
};

}  // namespace

TEST(PortTablesTest, MaxBaudRateByFeature)
{
    const std::pair<const char*, const char*> cases[] = {
        {"511", "1500000"}, {"115", "115200"}, {"460", "460800"}, {"57", "57600"}, {"0", "0"},
        {"", "0"},          {"1500", "0"},     {"-5", "0"},       {"abc", "0"},    {"99999999999", "0"},
    };
    for (const auto& [feature, rate] : cases) {
        const QString value = QLatin1String(feature);
        EXPECT_EQ(MaxBaudRate(&value), QLatin1String(rate)) << feature;
    }
    EXPECT_EQ(MaxBaudRate(nullptr), QStringLiteral("0"));
}

TEST(PortTablesTest, RecognizeOutputPresetInOrderAndKeepsWhatItCannotRead)
{
    const QString kvsMin =
        "{kvs/RT={1.00,0.00,-1,0},kvs/RD={1.00},kvs/SI={1.00},kvs/NN={1.00},kvs/RC={1.00},"
        "kvs/PC={1.00},kvs/P2={1.00},kvs/EE={1.00}}";
    const struct
    {
        QString list;
        const char* label;
        const char* period;
    } cases[] = {
        {"{}", "None", ""},
        {"{rtcm/1={1.00,0.00,-1,0},rtcm/31={1.00,0.00,-1,0},rtcm/3={10.00,0.00,-1,0}}", "DGPS RTCM {1,31,3}", "1.00"},
        {"{rtcm/1={1.00,0.00,-1,0},rtcm/31={2.00,0.00,-1,0},rtcm/3={10.00}}", "User Defined", ""},
        {"{rtcm/31={1.00},rtcm/1={1.00},rtcm/3={10.00}}", "User Defined", ""},
        {"{rtcm3/1003={5.00,0},rtcm3/1006={9.00},rtcm3/1008={7.00}}", "RTK RTCM3 GD min", "5.00"},
        {"{rtcm/20={2.00},rtcm/21={2.00},rtcm/23={10.00},rtcm/24={10.00}}", "RTK RTCM {20,21,23,24}", "2.00"},
        {"{cmr/10={1.00},cmr/0={0.50},cmr/9={0.50}}", "User Defined", ""},
        {"{cmr/10={1.00},cmr/0={1.00},cmr/9={1.00}}", "RTK CMR+ {10,0,9}", "1.00"},
        {kvsMin, "RTK KVS min", "1.00"},
        // A user's own eight messages are not the preset, nor is a list of 13.
        {"{nmea/GGA={1},nmea/RMC={1},nmea/GSA={1},nmea/GSV={1},nmea/VTG={1},nmea/ZDA={1},nmea/GST={1},nmea/GLL={1}}",
         "User Defined", ""},
        {"{" + QString("kvs/PG={1.00},").repeated(12) + "kvs/EE={1.00}}", "User Defined", ""},
        // Lists that cannot be read are kept, never taken for "None".
        {"{rtcm/1={1.00}", "User Defined", ""},
        {"{garbage}", "User Defined", ""},
        {"{rtcm/1={1.00},}", "User Defined", ""},
        {"{" + QString(40, 'x') + "={1}}", "User Defined", ""},
    };
    for (const auto& c : cases) {
        const OutputPreset p = RecognizeOutputPreset(&c.list);
        EXPECT_TRUE(p.found) << c.list.toStdString();
        EXPECT_EQ(p.label, QLatin1String(c.label)) << c.list.toStdString();
        EXPECT_EQ(p.period, QLatin1String(c.period)) << c.list.toStdString();
    }
    const QString noBrace = "error";
    EXPECT_FALSE(RecognizeOutputPreset(&noBrace).found);
    EXPECT_FALSE(RecognizeOutputPreset(nullptr).found);
    // The period alone of a one-item parameter list; an exact name, not a prefix of another.
    EXPECT_EQ(MessagePeriod("{rtcm/18={2.00},rtcm/1={10}}", "rtcm/1"), QStringLiteral("10"));
    EXPECT_EQ(MessagePeriod("{rtcm/18={2.00}}", "rtcm/1"), QString());
    EXPECT_EQ(OutputPresetCommand(3, "/dev/ser/a", "1.00"),
              QStringLiteral("%%em,/dev/ser/a,rtcm{/18:1.00,/19:1.00,/22:10,/3:10}"));
    EXPECT_EQ(OutputPresetCommand(0, "/dev/ser/a", ""), QStringLiteral("%%"));
}

TEST(PortTablesTest, AddressesAndControllerPort)
{
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.x", ""}) {
        EXPECT_FALSE(IsDottedQuad(QLatin1String(bad))) << bad;
    }
    EXPECT_TRUE(IsDottedQuad(" 10.0.0.255 "));
    EXPECT_TRUE(IsMacAddress("00:1a:2B:3c:4D:5e"));
    EXPECT_FALSE(IsMacAddress("00:1a:2B:3c:4D"));
    EXPECT_FALSE(IsMacAddress("00:1a:2B:3c:4D:5e:6f"));

    // A client entry for each port letter; letters outside a-e and cut entries are ignored.
    const auto clients = TcpClientAddresses(
        "{x={y},stat={tcpd={c1={ip=10.1.1.1,port=3021,dev=c},c2={ip=10.1.1.2,port=3022,dev=z},c3={ip=9.9.9.9,port=");
    EXPECT_EQ(QStringList(clients.begin(), clients.end()), QStringList({"", "", "10.1.1.1:3021", "", ""}));

    // Without an answer to "/cur/term", every port of the connection's kind is the controller's.
    CPortSheet sheet;
    CConfigSheetScope scope(&sheet);
    g_curTermPort.clear();
    const struct
    {
        const char* name;
        const char* protectedPorts;  // /dev/ser/b, /dev/usb/a, /dev/tcp/c
    } cases[] = {{"ttyUSB0:115200", "110"}, {"SIM:1", "110"}, {"192.168.3.1:8002", "001"}, {"", "111"}};
    for (const auto& c : cases) {
        sheet.name = QLatin1String(c.name);
        QString got;
        for (const char* port : {"/dev/ser/b", "/dev/usb/a", "/dev/tcp/c"}) {
            got += IsControllerPort(QLatin1String(port)) ? '1' : '0';
        }
        EXPECT_EQ(got, QLatin1String(c.protectedPorts)) << c.name;
    }
}

TEST_F(SerialTest, AvailabilityFollowsTheFeatureValues)
{
    Open("ports");
    // /dev/ser/a is the controller's own; RS_B 115, RS_C 0, RS_D 1500.
    page->QuerySettings();
    EXPECT_EQ(W<QComboBox>("serABaud")->count(), 14);
    EXPECT_EQ(W<QComboBox>("serBBaud")->count(), 10);
    EXPECT_EQ(W<QComboBox>("serBBaud")->itemText(9), QStringLiteral("115200"));
    EXPECT_EQ(Enabled({W("serAInput"), W("serAOutput"), W("serAPeriod"), W("serABaud"), W("serARtscts")}),
              QStringLiteral("00000"));
    EXPECT_EQ(W<QComboBox>("serAInput")->currentText(), QStringLiteral("Command"));
    EXPECT_EQ(Enabled({W("serBInput"), W("serBOutput"), W("serBPeriod"), W("serBBaud"), W("serBRtscts")}),
              QStringLiteral("11011"));
    EXPECT_EQ(W<QComboBox>("serBOutput")->currentText(), QStringLiteral("None"));
    for (const char* port : {"serC", "serD"}) {
        EXPECT_EQ(Enabled({W(QLatin1String(port) + "Input"), W(QLatin1String(port) + "Baud"),
                           W(QLatin1String(port) + "Rtscts")}),
                  QStringLiteral("000"));
    }

    // Only port B is written, and a runner talking through it passes its lines by; nothing ever concerns the
    // controller's own port.
    const QStringList script = Script();
    EXPECT_TRUE(script.filter("/dev/ser/a").isEmpty());
    EXPECT_EQ(
        script,
        QStringList(
            {"%Current port%print,/cur/term", "@goto Skip_/dev/ser/b_@0",
             "%/par/dev/ser/b/imode%set,/par/dev/ser/b/imode,cmd", "%/par/dev/ser/b/echo%set,/par/dev/ser/b/echo,off",
             "%/par/dev/ser/b/eoff%set,/par/dev/ser/b/eoff,off", "%/par/dev/ser/b/ewrap%set,/par/dev/ser/b/ewrap,off",
             "%/par/dev/ser/b/stops%set,/par/dev/ser/b/stops,1", "%/par/dev/ser/b/rate%set,/par/dev/ser/b/rate,115200",
             "%/par/dev/ser/b/rtscts%set,/par/dev/ser/b/rtscts,{off}", "%dm,/dev/ser/b%dm,/dev/ser/b",
             "@:Skip_/dev/ser/b_/dev/ser/b"}));

    // A receiver that does not report port D's feature value.
    Open("arven");
    EXPECT_EQ(Enabled({W("serDInput"), W("serDBaud"), W("serCInput")}), QStringLiteral("001"));

    // A current rate the port does not offer.
    Open("ports");
    sim->Sim().SetParamValue("/par/dev/ser/b/rate", "460800");
    page->QuerySettings();
    EXPECT_EQ(W<QComboBox>("serBBaud")->currentIndex(), -1);
    EXPECT_FALSE(W("serBBaud")->isEnabled());
}

TEST_F(SerialTest, OnlyWhatTheUserChangedIsSent)
{
    Open();
    // Port C outputs its own RTCM 3 list, which the page shows as the preset with the same messages.
    sim->Send("%%em,/dev/ser/c,rtcm3{/1003:{1.00,0.50},/1006:5,/1008:30}");
    page->QuerySettings();
    EXPECT_EQ(W<QComboBox>("serCOutput")->currentText(), QStringLiteral("RTK RTCM3 GD min"));
    const QStringList before = sim->Sim().EnabledMessages("/dev/ser/c");
    EXPECT_TRUE(Applied().isEmpty());
    Choose(W<QComboBox>("serBBaud"), "57600");
    W<QCheckBox>("serDRtscts")->click();
    EXPECT_EQ(Applied(), QStringList({"%%set,/par/dev/ser/b/rate,57600", "%%set,/par/dev/ser/d/rtscts,on"}));
    EXPECT_EQ(sim->Sim().EnabledMessages("/dev/ser/c"), before);
    EXPECT_TRUE(Applied().isEmpty());  // what was sent is the receiver's now
}

// The output step checks the period first, copies the antenna reference point for RTCM 3, and gives the port its
// messages back when the receiver refuses the new ones.
TEST_F(SerialTest, OutputPresetStepSendsTheExactSequence)
{
    Open();
    Choose(W<QComboBox>("serBOutput"), "None");
    EXPECT_FALSE(W("serBPeriod")->isEnabled());
    Choose(W<QComboBox>("serBOutput"), "RTK RTCM3 GD full");
    EXPECT_EQ(W<QLineEdit>("serBPeriod")->text(), QStringLiteral("1.00"));
    EXPECT_TRUE(page->m_bChanged);
    const QString ref = sim->Sim().Param("/par/ref/pos/gps/geo");
    const QStringList applied = Applied();
    EXPECT_EQ(applied, QStringList({"print,/par/raw/curmsint", "print,/par/pos/curmsint", "print,/par/ref/pos/gps/geo",
                                    "print,/par/ref/pos/glo/geo", "%%set,/par/ref/arp/gps/geo," + ref,
                                    "%%set,/par/ref/arp/glo/geo," + ref, "print,/par/out/dev/ser/b:on",
                                    "%%dm,/dev/ser/b", "%%em,/dev/ser/b,rtcm3{/1004:1.00,/1006:10,/1008:10}"}));
    EXPECT_EQ(sim->Sim().Param("/par/ref/arp/gps/geo"), ref);

    // The receiver lists them in the order given and the page recognises them; the script re-enables them.
    page->QuerySettings();
    EXPECT_EQ(W<QComboBox>("serBOutput")->currentText(), QStringLiteral("RTK RTCM3 GD full"));
    EXPECT_EQ(W<QLineEdit>("serBPeriod")->text(), QStringLiteral("1.00"));
    EXPECT_EQ(Script().filter("/dev/ser/b,rtcm3"),
              QStringList({"%em,/dev/ser/b,rtcm3/1004:{1.00,0.00,-1,0}%em,/dev/ser/b,rtcm3/1004:{1.00,0.00,-1,0}",
                           "%em,/dev/ser/b,rtcm3/1006:{10.00,0.00,-1,0}%em,/dev/ser/b,rtcm3/1006:{10.00,0.00,-1,0}",
                           "%em,/dev/ser/b,rtcm3/1008:{10.00,0.00,-1,0}%em,/dev/ser/b,rtcm3/1008:{10.00,0.00,-1,0}"}));

    // A user's own list stays as it is on apply: no "%%dm" wipes it.
    sim->Send("%%em,/dev/ser/c,nmea/GGA:1,rtcm/1:1");
    page->QuerySettings();
    EXPECT_EQ(W<QComboBox>("serCOutput")->currentText(), QStringLiteral("User Defined"));
    EXPECT_FALSE(W("serCPeriod")->isEnabled());
    EXPECT_TRUE(Applied().filter("/dev/ser/c,").isEmpty());
    EXPECT_EQ(sim->Sim().EnabledMessages("/dev/ser/c").size(), 2);

    // "User Defined" has no period to send.
    Choose(W<QComboBox>("serCOutput"), "User Defined");
    EXPECT_EQ(Enabled({W("serCPeriod")}), QStringLiteral("0"));

    // Every failure leaves port B's messages as they were. A period the update rates do not allow: nothing sent.
    const QStringList messages = sim->Sim().EnabledMessages("/dev/ser/b");
    Choose(W<QComboBox>("serBOutput"), "DGPS RTCM {1,31,3}");
    Type(W<QLineEdit>("serBPeriod"), "0");
    prompts.ExpectMessage("Output Period", OutputPeriodWarningText(), PromptButtons::Ok, PromptButton::Ok);
    QString result;
    EXPECT_TRUE(Applied(&result).filter(QRegularExpression("^%%")).isEmpty());
    EXPECT_EQ(result, QStringLiteral("Invalid messages output period for /dev/ser/b"));
    // The receiver refuses the new output (a period beyond a day): the port gets its messages back.
    Type(W<QLineEdit>("serBPeriod"), "90000");
    EXPECT_EQ(
        Applied(&result).filter("/dev/ser/b"),
        QStringList({"print,/par/out/dev/ser/b:on", "%%dm,/dev/ser/b", "%%em,/dev/ser/b,rtcm{/1:90000,/31:90000,/3:10}",
                     "%%em,/dev/ser/b,rtcm3/1004:{1.00,0.00,-1,0}", "%%em,/dev/ser/b,rtcm3/1006:{10.00,0.00,-1,0}",
                     "%%em,/dev/ser/b,rtcm3/1008:{10.00,0.00,-1,0}"}));
    EXPECT_EQ(result, QStringLiteral("Can't set output mode for /dev/ser/b"));
    // Or refuses to stop the port's messages; or the antenna reference point for RTCM 3, which then does not start.
    Type(W<QLineEdit>("serBPeriod"), "2");
    sim->Sim().RefuseParam("/dev/ser/b");
    EXPECT_EQ(Applied(&result).filter("/dev/ser/b").last(), QStringLiteral("%%dm,/dev/ser/b"));
    EXPECT_EQ(result, QStringLiteral("Can't set output mode for /dev/ser/b"));
    sim->Sim().RefuseParam("/dev/ser/b", false);
    Choose(W<QComboBox>("serBOutput"), "RTK RTCM3 GD min");
    sim->Sim().RefuseParam("/par/ref/arp/glo/geo");
    EXPECT_TRUE(Applied(&result).filter("/dev/ser/b").isEmpty());
    EXPECT_EQ(result, QStringLiteral("Can't set the antenna reference point for /dev/ser/b"));
    EXPECT_EQ(sim->Sim().EnabledMessages("/dev/ser/b"), messages);
}

TEST(PortPagesTest, UsbAndTcpLeaveTheControllersPortAlone)
{
    CSharedSim sim;
    CPortSheet sheet;
    CConfigSheetScope scope(&sheet);
    CScriptedPrompts prompts;
    auto session = sim.Sim().OpenSessionOn("/dev/tcp/c", {[](const QByteArray&) {}, [](const QString&) {}}, nullptr);
    ASSERT_TRUE(session);
    for (const char* own : {"/dev/usb/a", "/dev/tcp/b"}) {
        g_curTermPort = QLatin1String(own);
        CUSB usb;
        CTCP tcp;
        usb.QuerySettings();
        tcp.QuerySettings();
        EXPECT_EQ(Child<QLineEdit>(&tcp, "tcpCClient")->text(), QStringLiteral("127.0.0.1:%1").arg(40000 + 2));
        EXPECT_EQ(Child<QLineEdit>(&tcp, "tcpAClient")->text(), QString());
        Choose(tcp.findChild<QComboBox*>("tcpAOutput"), "RTK KVS min");
        const QString ownShort = CPortGroup::ShortName(g_curTermPort);
        QWidget* root = g_curTermPort.contains("usb") ? static_cast<QWidget*>(&usb) : &tcp;
        EXPECT_EQ(Enabled({Child<QWidget>(root, (ownShort + "Input").toLatin1()),
                           Child<QWidget>(root, (ownShort + "Period").toLatin1())}),
                  QStringLiteral("00"))
            << own;
        sim.ClearSentStatements();
        EXPECT_EQ(usb.ApplySettings(), QString());
        EXPECT_EQ(tcp.ApplySettings(), QString());
        sheet.lines.clear();
        usb.WriteScript();
        tcp.WriteScript();
        EXPECT_TRUE(sim.SentStatements().filter(QLatin1String(own)).isEmpty()) << own;
        EXPECT_TRUE(sheet.lines.filter(QLatin1String(own)).isEmpty()) << own;
        EXPECT_FALSE(sim.SentStatements().filter("/dev/tcp/a").isEmpty());
    }
}

// The other pages with port outputs report a refused output, after the port got its messages back.
TEST(PortPagesTest, ARefusedOutputIsReportedAndThePortKeepsItsMessages)
{
    CSharedSim sim;
    CPortSheet sheet;
    CConfigSheetScope scope(&sheet);
    CScriptedPrompts prompts;
    g_curTermPort = QStringLiteral("/dev/ser/a");
    CUSB usb;
    CTCP tcp;
    CCAN can;
    for (const auto& [page, port] :
         {std::pair<CConfigPage*, QString>{&usb, "/dev/usb/a"}, {&tcp, "/dev/tcp/b"}, {&can, "/dev/can/b"}}) {
        sim.Send("%%em," + port + ",rtcm3{/1006:5,/1008:30}");
        page->QuerySettings();
        const QStringList messages = sim.Sim().EnabledMessages(port);
        ASSERT_EQ(messages.size(), 2) << port.toStdString();
        const QString name = CPortGroup::ShortName(port);
        Choose(Child<QComboBox>(page, (name + "Output").toLatin1()), "DGPS RTCM {1,31,3}");
        Type(Child<QLineEdit>(page, (name + "Period").toLatin1()), "90000");  // beyond the receiver's day
        sim.ClearSentStatements();
        EXPECT_EQ(page->ApplySettings(), "Can't set output mode for " + port);
        EXPECT_EQ(sim.SentStatements().filter(QRegularExpression("^%%em")).size(), 3) << port.toStdString();
        EXPECT_EQ(sim.Sim().EnabledMessages(port), messages);
    }
}

TEST_F(CanTest, ImodeStepAndIdentifiersOnlyForEnabledControls)
{
    Open();
    EXPECT_EQ(W<QComboBox>("canARate")->currentText(), QStringLiteral("250"));
    EXPECT_EQ(W<QLineEdit>("canBOutFirst")->text(), QStringLiteral("1024"));
    Choose(W<QComboBox>("canAInput"), "RTCM 3.x");
    Type(W<QLineEdit>("canAInFirst"), "300");
    EXPECT_EQ(Applied(), QStringList({"%%set,/par/dev/can/a/imode,cmd", "%%set,/par/dev/can/a/imode,rtcm3",
                                      "%%set,/par/dev/can/a/sid/in/first,300"}));
    // A port without a reported input mode is never sent: its rate and identifiers are not to be edited.
    sim->Sim().HideParam("/par/dev/can/b/imode");
    page->QuerySettings();
    EXPECT_EQ(Enabled({W("canBInput"), W("canBRate"), W("canBInFirst"), W("canBOutCount"), W("canARate")}),
              QStringLiteral("00001"));
    const QStringList script = Script();
    EXPECT_TRUE(script.filter(QRegularExpression("%(dm|em),")).isEmpty());
    EXPECT_TRUE(script.contains("%/par/dev/can/a/sid/in/first%set,/par/dev/can/a/sid/in/first,300"));
}

TEST_F(EthernetTest, ChecksBeforeSending)
{
    Open();
    EXPECT_EQ(W<QLineEdit>("ethAddress")->text(), QStringLiteral("192.168.3.1"));
    EXPECT_EQ(W<QLineEdit>("ethPassword")->echoMode(), QLineEdit::Password);
    const struct
    {
        const char* edit;
        QString text;
        const char* result;
    } cases[] = {
        {"ethAddress", "1.2.3", "Invalid IP address"},
        {"ethAddress", "1.2.3.4.5", "Invalid IP address"},
        {"ethMask", "255.255.256.0", "Invalid IP mask"},
        {"ethTcpPort", "0", "Invalid TCP Port"},
        {"ethTcpPort", "65536", "Invalid TCP Port"},
        {"ethFtpTimeout", "0", "Invalid timeout"},
        {"ethPassword", QString(16, 'p'), "Invalid Ethernet password"},
        {"ethPassword", "50%", "Invalid Ethernet password"},
        {"ethPassword", QString(15, 'p'), ""},
    };
    for (const auto& c : cases) {
        page->QuerySettings();
        Type(W<QLineEdit>(c.edit), c.text);
        QString result;
        const QStringList applied = Applied(&result);
        EXPECT_EQ(result, QLatin1String(c.result)) << c.edit << " " << c.text.toStdString();
        EXPECT_EQ(applied.filter(QLatin1String(c.edit) == QLatin1String("ethPassword") ? "passwd" : "zzz").size(),
                  *c.result ? 0 : 1);
    }
    EXPECT_EQ(sim->Sim().Param("/par/net/passwd"), QString(15, 'p'));
    EXPECT_EQ(Script().first(), QStringLiteral("%/par/net/ip/addr%set,/par/net/ip/addr,192.168.3.1"));
}

TEST_F(WifiTest, KeysDecideOneByOneAndTheProfileEntryFollowsTheMode)
{
    Open();
    // An untouched key is empty under the mask; every key, typed or not, is echoed as a password.
    for (const char* key : {"wifiKey1", "wifiKey2", "wifiKey3", "wifiKey4"}) {
        EXPECT_EQ(W<QLineEdit>(key)->text(), QString()) << key;
        EXPECT_EQ(W<QLineEdit>(key)->placeholderText(), CWIFI::kKeyMask) << key;
        EXPECT_EQ(W<QLineEdit>(key)->echoMode(), QLineEdit::Password) << key;
    }
    EXPECT_EQ(W<QLineEdit>("wifiAccessPoint")->text(), QStringLiteral("00:1A:2B:3C:4D:5E"));
    EXPECT_TRUE(Applied().filter("/ap/key").isEmpty());
    EXPECT_EQ(CProfile::Instance()->ReadString("LServer", "WIFI", "x"), QString());
    CProfile::Release();

    Type(W<QLineEdit>("wifiKey2"), "0123456789");
    W<QCheckBox>("wifiOn")->click();
    EXPECT_EQ(Applied().filter("/ap/key"), QStringList({"%%set,/par/net/wlan/ap/key2,\"0123456789\""}));
    EXPECT_EQ(Script().filter("/ap/key"),
              QStringList({"%/par/net/wlan/ap/key2%set,/par/net/wlan/ap/key2,\"0123456789\""}));
    EXPECT_EQ(CProfile::Instance()->ReadString("LServer", "WIFI", "x"), QStringLiteral("WIFI:192.168.4.1:8002:sim,"));
    CProfile::Release();
    // Reading the page again forgets what was typed; a key typed empty is still a choice and is sent.
    page->QuerySettings();
    EXPECT_EQ(W<QLineEdit>("wifiKey2")->text(), QString());
    EXPECT_TRUE(Applied().filter("/ap/key").isEmpty());
    Type(W<QLineEdit>("wifiKey4"), "");
    EXPECT_EQ(Applied().filter("/ap/key"), QStringList({"%%set,/par/net/wlan/ap/key4,\"\""}));

    // Checks only where the receiver reported a value, before anything is sent; a refused address is reported.
    W("wifiGateway")->setEnabled(false);
    Type(W<QLineEdit>("wifiGateway"), "nonsense");
    QString result;
    for (const auto& [edit, text, error] : {std::tuple{"wifiMask", "255.255.0", "Invalid MASK"},
                                            {"wifiKey3", "0123456789abcdef0123456789a", "Invalid Key3"}}) {
        page->QuerySettings();
        Type(W<QLineEdit>(edit), text);
        EXPECT_TRUE(Applied(&result).isEmpty()) << edit;
        EXPECT_EQ(result, QLatin1String(error));
    }
    page->QuerySettings();
    Type(W<QLineEdit>("wifiAccessPoint"), "A:1b:2:3C:4:d");  // one digit is a field too, sent with two
    EXPECT_EQ(Applied(&result).filter("/ap/"), QStringList({"%%set,/par/net/wlan/ap/id,\"0A:1b:02:3C:04:0d\""}));
    sim->Sim().RefuseParam("/par/net/wlan/ip/addr");
    Applied(&result);
    EXPECT_EQ(result, QStringLiteral("Cannot set IP address"));
    // A refused mode is reported, and no entry is kept for a Wi-Fi that is not on.
    CProfile::Instance()->WriteString("LServer", "WIFI", "");
    CProfile::Release();
    sim->Sim().SetParamValue("/par/net/wlan/mode", "off");
    page->QuerySettings();
    sim->Sim().RefuseParam("/par/net/wlan/mode");
    W<QCheckBox>("wifiOn")->click();
    Applied(&result);
    EXPECT_EQ(result, QStringLiteral("Cannot set Wi-Fi mode"));
    EXPECT_EQ(CProfile::Instance()->ReadString("LServer", "WIFI", "x"), QString());
    CProfile::Release();
}

TEST_F(GsmTest, ModemByModelAndNoDefaultPinSent)
{
    for (const auto& [profile, modem] : {std::pair{"arven", "/par/modem/b/"}, {"full", "/par/modem/c/"}}) {
        Open(profile);
        EXPECT_EQ(CGSM::ModemPath(sheet.model), QLatin1String(modem)) << profile;
        EXPECT_EQ(W<QLineEdit>("gsmPin")->text(), CGSM::DefaultPin());
        EXPECT_EQ(W<QLineEdit>("gsmPin")->echoMode(), QLineEdit::Password);
        Choose(W<QComboBox>("gsmMode"), "master");
        EXPECT_EQ(Applied(), QStringList({"%%set," + QLatin1String(modem) + "mode,master"})) << profile;
        EXPECT_EQ(Script(),
                  QStringList({"%" + QLatin1String(modem) + "mode%set," + QLatin1String(modem) + "mode,master"}));
        Type(W<QLineEdit>("gsmPin"), "4719");
        EXPECT_EQ(Applied().last(), "%%set," + QLatin1String(modem) + "pin,\"4719\"");
    }
    EXPECT_EQ(CGSM::ModemPath("Model ARVEN"), QStringLiteral("/par/modem/c/"));
    sim->Sim().RefuseParam("/par/modem/c/mode");
    QString result;
    Applied(&result);
    EXPECT_EQ(result, QStringLiteral("Cannot set GSM mode"));
}

TEST_F(BltTest, ApplyRestartsTheReceiverAndReportsWhatFails)
{
    const struct
    {
        int rebootMs;
        bool refuse;
        const char* result;
        int reopened;
    } cases[] = {
        {3000, false, "", 1},
        {20000, false, "The receiver does not answer after the reset", 0},
        {3000, true, "Cannot reset the receiver", 0},
    };
    for (const auto& c : cases) {
        Open("full", c.rebootMs);
        sheet.reopened = 0;
        CAdvanceWaiter waiter(*sim);
        page->SetWaiter(&waiter);
        EXPECT_EQ(W<QLineEdit>("bltName")->text(), QStringLiteral("VIREO-Z3"));
        Type(W<QLineEdit>("bltName"), "Rover, north");
        if (c.refuse) {
            sim->Sim().RefuseParam("/par/reset");
        }
        if (!*c.result) {
            prompts.ExpectMessage("Reset Receiver", "The receiver has been reset!", PromptButtons::Ok,
                                  PromptButton::Ok);
        }
        const std::shared_ptr<CReceiver> before = CReceiverHolder::Shared().GetReceiver();
        QString result;
        const QStringList applied = Applied(&result);
        EXPECT_EQ(result, QLatin1String(c.result)) << c.rebootMs;
        EXPECT_EQ(applied.mid(0, 3), QStringList({"%%set,/par/blt/name,\"Rover, north\"", "%%set,/par/blt/pin,\"0000\"",
                                                  "%%set,reset,yes"}));
        EXPECT_EQ(sheet.reopened, c.reopened);
        EXPECT_TRUE(sheet.shown);
        EXPECT_EQ(waiter.waits, c.refuse ? 0 : c.reopened ? 4 : CBLT::kReopenAttempts);
        if (c.reopened) {
            // The new handle answers the later pages.
            EXPECT_NE(CReceiverHolder::Shared().GetReceiver(), before);
            page->QuerySettings();
            EXPECT_EQ(W<QLineEdit>("bltName")->text(), QStringLiteral("Rover, north"));
        }
        prompts.Verify();
    }
    EXPECT_EQ(Script(), QStringList({"%/par/blt/name%set,/par/blt/name,\"Rover, north\"",
                                     "%/par/blt/pin%set,/par/blt/pin,\"0000\""}));
}

TEST(PortsPageTest, InnerPagesApplyInOrderAndTheFailingOneIsShown)
{
    CSharedSim sim;
    CPortSheet sheet;
    CConfigSheetScope scope(&sheet);
    CScriptedPrompts prompts;
    CPorts ports;
    ports.QuerySettings();
    EXPECT_EQ(g_curTermPort, QStringLiteral("/dev/ser/a"));
    for (int i = 0; i < CPorts::kPages; ++i) {
        EXPECT_TRUE(ports.InnerPage(i)->m_bQueried);
    }
    Type(Child<QLineEdit>(ports.InnerPage(2), "ethTcpPort"), "0");
    Choose(Child<QComboBox>(ports.InnerPage(1), "usbAInput"), "RTCM 3.x");
    EXPECT_TRUE(ports.m_bChanged);
    ports.SelectInner(1);
    EXPECT_TRUE(sheet.apply);
    ports.SelectInner(3);
    EXPECT_FALSE(sheet.apply);
    EXPECT_EQ(ports.ApplySettings(), QStringLiteral("Invalid TCP Port"));
    EXPECT_EQ(ports.CurrentInner(), 2);
    EXPECT_FALSE(ports.InnerPage(1)->m_bChanged);
    EXPECT_TRUE(ports.InnerPage(2)->m_bChanged);
    EXPECT_EQ(sim.Sim().Param("/par/dev/usb/a/imode"), QStringLiteral("rtcm3"));
}

TEST(PortsPageTest, AfterTheBluetoothRestartTheSheetListensOnTheNewHandle)
{
    SimOptions options = SimProfile("full");
    options.rebootMs = 1500;
    CSharedSim sim(options);
    CScriptedPrompts prompts;
    CReceiverCfgDlg sheet(SheetContext(sim));
    ASSERT_TRUE(sheet.Open());
    sheet.SelectPage(5);
    auto* ports = dynamic_cast<CPorts*>(sheet.Page(5));
    ASSERT_NE(ports, nullptr);
    auto* blt = static_cast<CBLT*>(ports->InnerPage(5));
    CAdvanceWaiter waiter(sim);
    blt->SetWaiter(&waiter);
    Type(Child<QLineEdit>(blt, "bltPin"), "4321");
    EXPECT_EQ(Child<QLineEdit>(blt, "bltPin")->echoMode(), QLineEdit::Password);
    prompts.ExpectMessage("Reset Receiver", "The receiver has been reset!", PromptButtons::Ok, PromptButton::Ok);
    sheet.Apply();
    EXPECT_EQ(sheet.StatusText(), QStringLiteral("Applied"));
    EXPECT_TRUE(sheet.IsSheetShown());
    EXPECT_EQ(sim.Sim().Param("/par/blt/pin"), QStringLiteral("\"4321\""));
    EXPECT_TRUE(sim.Sim().EnabledMessages("/dev/ser/a").join(' ').contains(QLatin1String("/msg/kvs/PG:1000")));
    g_pgMessage.Clear();
    sim.Advance(2000);
    const QDeadlineTimer deadline(5000);
    while (g_pgMessage.Body().isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(2);
    }
    EXPECT_EQ(g_pgMessage.Body().size(), 30);
    // A later page queries through the new handle.
    sheet.SelectPage(2);
    EXPECT_EQ(Child<QLineEdit>(sheet.Page(2), "elevationMask")->text(), QStringLiteral("5"));
}
