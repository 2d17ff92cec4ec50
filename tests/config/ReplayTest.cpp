// A saved setup script replayed with the interpreter on a fresh receiver of the same model reproduces every
// parameter the sheet's pages show.

#include "PageTestSupport.h"

#include "config/Base.h"
#include "config/DatumParam.h"
#include "config/PosSatPages.h"
#include "config/Position.h"
#include "config/ReceiverCfgDlg.h"
#include "config/ports/Ports.h"
#include "manual/ScriptHost.h"
#include "manual/ScriptInterpreter.h"
#include "support/ScriptedPrompts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <mutex>

#include <gtest/gtest.h>

namespace {

// Runs scripts on a receiver holder; prints nowhere, and its clock moves only when the script waits.
class CReplayHost : public IScriptHost
{
public:
    CReplayHost(CReceiverHolder& holder, QString folder) : m_holder(holder), m_folder(std::move(folder)) {}

    void PrintOutput(const QString& text) override { output << text; }
    void SetStatus(const QString& text) override { status = text; }
    void ClearOutput() override {}
    void SetControlsEnabled(bool) override {}
    void SetScriptButton(const QString&, bool) override {}
    void ProcessPendingInput() override {}
    bool StopRequested() const override { return false; }
    void ClearStopRequest() override {}
    QString ScriptFolder() const override { return m_folder; }
    bool Send(const QString& text) override { return m_holder.Send(text); }
    QString Reply() override { return m_holder.Reply(); }
    int64_t TickMs() override { return m_tick; }
    void Wait(int ms) override { m_tick += ms; }

    QStringList output;
    QString status;

private:
    CReceiverHolder& m_holder;
    QString m_folder;
    int64_t m_tick = 0;
};

// Every parameter the implemented pages show; a page added later adds its paths here.
const char* const kShownParameters[] = {
    // Positioning
    "/par/pos/mode/cur",   "/par/pos/mode/sp",      "/par/pos/mode/cd",        "/par/pos/mode/pf",
    "/par/pos/mode/pd",    "/par/pos/elm",          "/par/pos/pdop",           "/par/pos/sys",
    "/par/pos/raim/mode",  "/par/pos/raim/al/mode", "/par/pos/raim/al/manual", "/par/pos/sp/meas",
    "/par/pos/sp/iono",    "/par/pos/sp/tropo",     "/par/pos/datum/cur",      "/par/pos/datum/P90/par",
    "/par/pos/datum/USER", "/par/lock/gps/sat",     "/par/pos/gps/sat",        "/par/lock/glo/fcn",
    "/par/pos/glo/fcn",    "/par/pos/glo/sat",      "/par/lock/gal/sat",       "/par/pos/gal/sat",
    "/par/lock/sbas/sat",  "/par/pos/sbas/sat",
};

// And those of the Base and Rover pages, by directory (the DGPS ones keep their defaults: the script writes them
// in DGPS mode only).
const char* const kBaseRoverParameters[] = {"/par/ref/",    "/par/rtcm/base/", "/par/cmr/",
                                            "/par/pos/cd/", "/par/pos/pd/",    "/par/pos/mode/cur"};

// Runs the saved setup in `folder` on a fresh receiver of the same model and compares the parameters.
void ExpectReplayed(const QString& folder, const std::map<QString, QString>& expected)
{
    CSimHarness b;
    b.Sim().SetParamValue(QStringLiteral("/par/pos/pdop"), QStringLiteral("99.0"));  // reset by the script
    CReplayHost host(b.Holder(), folder);
    CScriptInterpreter interpreter(host);
    EXPECT_FALSE(interpreter.RunScript(QStringLiteral("setup.kvc")));
    EXPECT_EQ(interpreter.LastOutcome(), CScriptInterpreter::Outcome::Completed);
    EXPECT_EQ(host.status, QString());
    EXPECT_TRUE(host.output.contains(QStringLiteral("> Done!"))) << host.output.join('\n').toStdString();
    for (const auto& [p, value] : expected) {
        EXPECT_EQ(b.Sim().Param(p), value) << p.toStdString();
    }
}

template <typename T>
T* In(QWidget* page, const char* name)
{
    T* w = Child<T>(page, name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

}  // namespace

TEST(ReplayTest, SavedSetupReproducesTheReceiverOnAnotherOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setup.kvc"));
    std::map<QString, QString> expected;
    {
        CSharedSim a;
        CScriptedPrompts prompts;
        ConfigSheetContext context;
        context.connection = &a.Connection();
        context.receiverName = a.Name();
        context.model = a.Sim().Param(QStringLiteral("/par/rcv/model"));
        CReceiverCfgDlg sheet(context);
        ASSERT_TRUE(sheet.Open());
        sheet.SelectPage(2);
        auto* page = dynamic_cast<CPosition*>(sheet.Page(2));
        ASSERT_NE(page, nullptr);

        // The user edits the page.
        Type(In<QLineEdit>(page, "elevationMask"), "12");
        Type(In<QLineEdit>(page, "pdopMask"), "6.5");
        In<QCheckBox>(page, "sysGal")->click();
        In<QCheckBox>(page, "solCd")->click();
        In<QCheckBox>(page, "raimEnabled")->click();
        Type(In<QLineEdit>(page, "alarmLimit"), "25.0");
        In<QRadioButton>(page, "measP2")->click();
        In<QCheckBox>(page, "tropoCorrection")->click();
        Choose(In<QComboBox>(page, "datum"), "EUR-M");
        page->SatPage(0)->UseBox(4)->click();
        In<QCheckBox>(page, "trackedGlonass")->click();  // none tracked
        auto* glo = static_cast<CPosGLONASS*>(page->SatPage(1));
        glo->SetFcnNumbering(false);
        glo->UseBox(23)->click();
        Child<QPushButton>(page->SatPage(3), "noneToLock")->click();
        ASSERT_TRUE(sheet.IsApplyEnabled());
        sheet.Apply();
        ASSERT_EQ(sheet.StatusText(), QString());
        glo->SetFcnNumbering(true);  // the display choice is no receiver parameter

        // And the two datums that take parameters.
        CDatumParam user(QStringLiteral("USER"));
        Choose(Child<QComboBox>(&user, "refDatum"), "P90");
        Type(Child<QLineEdit>(&user, "axis"), "6378100.5");
        Type(Child<QLineEdit>(&user, "rZ"), "0.25");
        user.Ok();
        CDatumParam p90(QStringLiteral("P90"));
        Type(Child<QLineEdit>(&p90, "scale"), "0.5");
        p90.Ok();

        prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), path);
        sheet.Save();
        ASSERT_EQ(sheet.StatusText(), QString());
        for (const char* p : kShownParameters) {
            expected[QString::fromLatin1(p)] = a.Sim().Param(QString::fromLatin1(p));
        }
    }
    ASSERT_EQ(expected["/par/pos/elm"], QStringLiteral("12"));
    ASSERT_EQ(expected["/par/pos/datum/cur"], QStringLiteral("EUR-M"));
    ASSERT_TRUE(expected["/par/pos/datum/USER"].contains(QLatin1String("6378100.5")));

    ExpectReplayed(dir.path(), expected);
}

TEST(ReplayTest, BaseAndRoverPagesToo)
{
    QTemporaryDir dir;
    std::map<QString, QString> expected;
    {
        CSharedSim a;
        CScriptedPrompts prompts;
        CReceiverCfgDlg sheet(SheetContext(a));
        ASSERT_TRUE(sheet.Open());

        sheet.SelectPage(3);
        auto* base = dynamic_cast<CBase*>(sheet.Page(3));
        ASSERT_NE(base, nullptr);
        In<QRadioButton>(base, "separately")->click();
        Type(In<QLineEdit>(base, "latSeconds"), "1.5");
        base->SelectCoordinateTab(1);
        Type(In<QLineEdit>(base, "height"), "-20.25");
        for (const auto& [name, text] : {std::pair{"offsetNorth", "0.0123"},
                                         {"rtcmStationId", "101"},
                                         {"cmrStationId", "7"},
                                         {"cmrGloType", "6"},
                                         {"cmrLongId", "Base on roof"}}) {
            Type(In<QLineEdit>(base, name), QString::fromLatin1(text));
        }
        Choose(In<QComboBox>(base, "rtcmHealth"), "Bad");
        Choose(In<QComboBox>(base, "cmrMotion"), "Kinematic");
        for (const char* name : {"rtcmP1", "rtcmGlonass", "rtcmSmoothing", "cmrP1"}) {
            In<QAbstractButton>(base, name)->click();
        }
        sheet.Apply();
        ASSERT_EQ(sheet.StatusText(), QString());

        sheet.SelectPage(4);
        CConfigPage* rover = sheet.Page(4);
        for (const char* name : {"modePd", "rtkDelay", "dynStatic", "fixHigh", "rtkP1", "keepRef"}) {
            In<QAbstractButton>(rover, name)->click();
        }
        Type(In<QLineEdit>(rover, "period"), "5");
        Type(In<QLineEdit>(rover, "gloType"), "4");
        Choose(In<QComboBox>(rover, "rtkSource"), "TCP B");
        sheet.Apply();
        ASSERT_EQ(sheet.StatusText(), QString());

        prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), dir.filePath(QStringLiteral("setup.kvc")));
        sheet.Save();
        ASSERT_EQ(sheet.StatusText(), QString());
        for (const char* p : kBaseRoverParameters) {
            expected[QString::fromLatin1(p)] = a.Sim().Param(QString::fromLatin1(p));
        }
    }
    // The edits reached the receiver, so that the replay has something to reproduce.
    for (const auto& [dir, value] : {std::pair{"/par/ref/", "-20.2500}"},
                                     {"/par/cmr/", "\"Base on roof\"}"},
                                     {"/par/pos/pd/", "delay,0.0,high"},
                                     {"/par/pos/pd/", "/dev/tcp/b"}}) {
        ASSERT_TRUE(expected[dir].contains(QLatin1String(value))) << expected[dir].toStdString();
    }
    ExpectReplayed(dir.path(), expected);
}

// And those of the port pages: everything but the controller's own port (serial A), the Wi-Fi keys (never read
// back), the CAN ports' messages (not written) and the clients of the TCP ports (live).
const char* const kPortParameters[] = {
    "/par/dev/ser/b/",       "/par/dev/ser/c/",       "/par/dev/ser/d/",       "/par/dev/usb/a/",
    "/par/dev/tcp/",         "/par/dev/can/a/rate",   "/par/dev/can/b/sid/",   "/par/net/ip/",
    "/par/net/tcp/",         "/par/net/ftp/",         "/par/net/passwd",       "/par/net/wlan/mode",
    "/par/net/wlan/ip/",     "/par/net/wlan/ap/id",   "/par/blt/name",         "/par/blt/pin",
    "/par/modem/c/",         "/par/out/dev/ser/b:on", "/par/out/dev/ser/d:on", "/par/out/dev/usb/a:on",
    "/par/out/dev/tcp/a:on", "/par/out/dev/tcp/e:on", "/par/ref/arp/gps/geo",
};

TEST(ReplayTest, PortPagesToo)
{
    QTemporaryDir dir;
    std::map<QString, QString> expected;
    {
        CSharedSim a;
        // The Bluetooth name is set beforehand: applying it on the page restarts the receiver.
        a.Send(QStringLiteral("%%set,/par/blt/name,\"Rover 7\""));
        CScriptedPrompts prompts;
        CReceiverCfgDlg sheet(SheetContext(a));
        ASSERT_TRUE(sheet.Open());
        sheet.SelectPage(5);
        auto* ports = dynamic_cast<CPorts*>(sheet.Page(5));
        ASSERT_NE(ports, nullptr);
        QWidget* p = ports;
        Choose(In<QComboBox>(p, "serBBaud"), "38400");
        In<QCheckBox>(p, "serBRtscts")->click();
        Choose(In<QComboBox>(p, "serBInput"), "RTCM 3.x");
        Choose(In<QComboBox>(p, "serBOutput"), "RTK RTCM3 GGD full");
        Type(In<QLineEdit>(p, "serBPeriod"), "2");
        Choose(In<QComboBox>(p, "serDOutput"), "DGPS RTCM {9,34,3}");
        Choose(In<QComboBox>(p, "usbAOutput"), "RTK KVS min");
        Choose(In<QComboBox>(p, "tcpAInput"), "CMR");
        Choose(In<QComboBox>(p, "tcpAOutput"), "RTK CMR {10,0,1}");
        Choose(In<QComboBox>(p, "tcpEOutput"), "RTK RTCM {20,21,23,24}");
        Choose(In<QComboBox>(p, "canARate"), "500");
        Type(In<QLineEdit>(p, "canBOutCount"), "8");
        for (const auto& [name, text] : {std::pair{"ethAddress", "10.0.0.7"},
                                         {"ethGateway", "10.0.0.1"},
                                         {"ethTcpTimeout", "60"},
                                         {"ethFtpPort", "2121"},
                                         {"ethPassword", "secret word"},
                                         {"wifiAddress", "10.1.0.7"},
                                         {"wifiAccessPoint", "A0:B1:C2:D3:E4:F5"},
                                         {"gsmPin", "1234"}}) {
            Type(In<QLineEdit>(p, name), QString::fromLatin1(text));
        }
        In<QCheckBox>(p, "wifiOn")->click();
        Choose(In<QComboBox>(p, "gsmMode"), "slave");
        sheet.Apply();
        ASSERT_EQ(sheet.StatusText(), QString());
        prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), dir.filePath(QStringLiteral("setup.kvc")));
        sheet.Save();
        ASSERT_EQ(sheet.StatusText(), QString());
        for (const char* p : kPortParameters) {
            expected[QString::fromLatin1(p)] = a.Sim().Param(QString::fromLatin1(p));
        }
    }
    for (const auto& [path, value] : {std::pair{"/par/dev/ser/b/", "38400"},
                                      {"/par/out/dev/ser/b:on", "rtcm3/1012={2.00"},
                                      {"/par/out/dev/usb/a:on", "kvs/RT={1.00"},
                                      {"/par/out/dev/tcp/a:on", "cmr/0="},
                                      {"/par/net/ip/", "10.0.0.7"},
                                      {"/par/blt/name", "Rover 7"},
                                      {"/par/modem/c/", "\"1234\""}}) {
        ASSERT_TRUE(expected[path].contains(QLatin1String(value))) << path << ": " << expected[path].toStdString();
    }
    ExpectReplayed(dir.path(), expected);
}

TEST(ReplayTest, ReceiverAnswersTheHeadersTagsWithSpacesAndCommas)
{
    CSimReceiver sim(CSimHarness::VirtualClock());
    std::mutex mutex;
    QByteArray out;
    IInProcessDevice::Sink sink{[&](const QByteArray& bytes) {
                                    std::lock_guard lock(mutex);
                                    out += bytes;
                                },
                                [](const QString&) {}};
    QString error;
    std::unique_ptr<IDeviceSession> session = sim.OpenSession(sink, &error);
    ASSERT_TRUE(session) << error.toStdString();
    session->Write(
        "%Receiver model%print,/par/rcv/model\r\n"
        "%print,/par/cur/term/rate&def%print,/par/cur/term/rate&def\r\n"
        "%init parameters%init,/par/\r\n");
    sim.AdvanceTime(100);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(out.contains("%Receiver model%Vireo-Z3\r\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("%print,/par/cur/term/rate&def%115200\r\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("RE011%init parameters%\r\n")) << out.toStdString();
}
