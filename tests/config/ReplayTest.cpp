// A saved setup script replayed with the interpreter on a fresh receiver of the same model reproduces every
// parameter the sheet's pages show.

#include "PageTestSupport.h"

#include "config/Base.h"
#include "config/DatumParam.h"
#include "config/PosSatPages.h"
#include "config/Position.h"
#include "config/ReceiverCfgDlg.h"
#include "config/ports/Ports.h"
#include "config/tracking/Advanced.h"
#include "manual/ScriptHost.h"
#include "manual/ScriptInterpreter.h"
#include "manual/SetupCheck.h"
#include "support/ScriptedPrompts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <mutex>
#include <random>
#include <span>
#include <tuple>

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

template <typename T>
T* In(QWidget* page, const char* name)
{
    T* w = Child<T>(page, name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void Click(QWidget* page, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        In<QAbstractButton>(page, name)->click();
    }
}

void TypeAll(QWidget* page, std::initializer_list<std::pair<const char*, const char*>> edits)
{
    for (const auto& [name, text] : edits) {
        Type(In<QLineEdit>(page, name), QString::fromLatin1(text));
    }
}

// Receiver A with the sheet open on it. A test edits the pages, saves the setup and replays it on a fresh receiver.
class ReplayTest : public ::testing::Test
{
protected:
    void ApplyOk()
    {
        ASSERT_TRUE(sheet.IsApplyEnabled());
        sheet.Apply();
        ASSERT_EQ(sheet.StatusText(), QStringLiteral("Applied"));
    }
    // Saves the setup as setup.kvc and reads `paths` back from A: what the replay must reproduce.
    void Save(std::span<const char* const> paths)
    {
        prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), dir.filePath(QStringLiteral("setup.kvc")));
        sheet.Save();
        ASSERT_EQ(sheet.StatusText(), CReceiverCfgDlg::SavedText(dir.filePath(QStringLiteral("setup.kvc"))));
        for (const char* p : paths) {
            expected[QString::fromLatin1(p)] = a.Sim().Param(QString::fromLatin1(p));
        }
    }
    // The edits reached the receiver, so that the replay has something to reproduce.
    void ExpectEdited(std::initializer_list<std::pair<const char*, const char*>> contained)
    {
        for (const auto& [path, value] : contained) {
            const QString& got = expected.at(QString::fromLatin1(path));
            EXPECT_TRUE(got.contains(QLatin1String(value))) << path << ": " << got.toStdString();
        }
    }

    // Runs the saved setup on a fresh receiver of the same model and compares the parameters but `skipped`; with
    // a `port`, the runner talks to the receiver through that port.
    void ExpectReplayed(const QString& port = QString(), const QStringList& skipped = {})
    {
        CSimHarness b(CSimHarness::VirtualClock(), nullptr, port.isEmpty());
        if (!port.isEmpty()) {
            const QString key = QStringLiteral("replay-port");
            RegisterInProcessDevice(key, SimPortDevice(b.SimPtr(), port));
            const bool opened = b.Receiver().Open(&b.Connection(), QStringLiteral("SIM:") + key, 0);
            UnregisterInProcessDevice(key);  // the open session stays
            ASSERT_TRUE(opened);
        }
        b.Sim().SetParamValue(QStringLiteral("/par/pos/pdop"), QStringLiteral("99.0"));  // reset by the script
        CReplayHost host(b.Holder(), dir.path());
        CScriptInterpreter interpreter(host);
        EXPECT_FALSE(interpreter.RunScript(QStringLiteral("setup.kvc")));
        EXPECT_EQ(interpreter.LastOutcome(), CScriptInterpreter::Outcome::Completed);
        EXPECT_EQ(host.status, QString());
        EXPECT_TRUE(host.output.contains(QStringLiteral("> Done!"))) << host.output.join('\n').toStdString();
        for (const auto& [p, value] : expected) {
            if (!skipped.contains(p)) {
                EXPECT_EQ(b.Sim().Param(p), value) << p.toStdString();
            }
        }
    }

    QTemporaryDir dir;
    std::map<QString, QString> expected;
    CSharedSim a;
    CScriptedPrompts prompts;
    CReceiverCfgDlg sheet{SheetContext(a)};
};

}  // namespace

TEST_F(ReplayTest, SavedSetupReproducesTheReceiverOnAnotherOne)
{
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
    ASSERT_NO_FATAL_FAILURE(ApplyOk());
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

    ASSERT_NO_FATAL_FAILURE(Save(kShownParameters));
    ExpectEdited({{"/par/pos/elm", "12"}, {"/par/pos/datum/cur", "EUR-M"}, {"/par/pos/datum/USER", "6378100.5"}});
    ExpectReplayed();
}

// The receiver a setup was saved from matches it; changes made on the receiver afterwards are exactly what
// differs, and applying them brings it back.
TEST_F(ReplayTest, SavedSetupComparesSameOnItsReceiverAndChangesByHandDiffer)
{
    ASSERT_TRUE(sheet.Open());
    ASSERT_NO_FATAL_FAILURE(Save({}));
    const QString setup = dir.filePath(QStringLiteral("setup.kvc"));
    const auto differing = [](const SetupComparison& c) {
        QStringList paths;
        for (const CompareRow& row : c.rows) {
            EXPECT_TRUE(row.state == RowState::Same || row.state == RowState::Differs)
                << row.item.path.toStdString() << ": " << RowStateText(row).toStdString();
            if (row.state == RowState::Differs) {
                paths << row.item.path;
            }
        }
        return paths;
    };
    SetupComparison c = CSetupCheck(CReceiverHolder::Shared()).Compare(setup);
    ASSERT_EQ(c.end, CheckEnd::Done) << c.endText.toStdString();
    EXPECT_GT(c.rows.size(), 100u);
    EXPECT_EQ(differing(c), QStringList());
    EXPECT_GT(c.resetOnly, 0);

    a.Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("17"));
    a.Sim().SetParamValue(QStringLiteral("/par/pos/datum/cur"), QStringLiteral("W72"));
    ASSERT_FALSE(a.Send(QStringLiteral("em,/dev/ser/b,kvs/PG:{1.00}")).startsWith(QLatin1String("ER")));
    c = CSetupCheck(CReceiverHolder::Shared()).Compare(setup);
    EXPECT_EQ(differing(c), (QStringList{"/par/pos/elm", "/par/pos/datum/cur", "/par/out/dev/ser/b"}));

    CSetupCheck(CReceiverHolder::Shared()).Apply(&c);
    for (const CompareRow& row : c.rows) {
        EXPECT_TRUE(row.state == RowState::Same || row.state == RowState::Verified) << row.item.path.toStdString();
    }
    EXPECT_EQ(a.Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("5"));
    EXPECT_TRUE(a.Sim().EnabledMessages(QStringLiteral("/dev/ser/b")).isEmpty());
    EXPECT_EQ(differing(CSetupCheck(CReceiverHolder::Shared()).Compare(setup)), QStringList());
}

TEST_F(ReplayTest, BaseAndRoverPagesToo)
{
    ASSERT_TRUE(sheet.Open());

    sheet.SelectPage(3);
    auto* base = dynamic_cast<CBase*>(sheet.Page(3));
    ASSERT_NE(base, nullptr);
    In<QRadioButton>(base, "separately")->click();
    Type(In<QLineEdit>(base, "latSeconds"), "1.5");
    base->SelectCoordinateTab(1);
    TypeAll(base, {{"height", "-20.25"},
                   {"offsetNorth", "0.0123"},
                   {"rtcmStationId", "101"},
                   {"cmrStationId", "7"},
                   {"cmrGloType", "6"},
                   {"cmrLongId", "Base on roof"}});
    Choose(In<QComboBox>(base, "rtcmHealth"), "Bad");
    Choose(In<QComboBox>(base, "cmrMotion"), "Kinematic");
    Click(base, {"rtcmP1", "rtcmGlonass", "rtcmSmoothing", "cmrP1"});
    ASSERT_NO_FATAL_FAILURE(ApplyOk());

    sheet.SelectPage(4);
    CConfigPage* rover = sheet.Page(4);
    Click(rover, {"modePd", "rtkDelay", "dynStatic", "fixHigh", "rtkP1", "keepRef"});
    TypeAll(rover, {{"period", "5"}, {"gloType", "4"}});
    Choose(In<QComboBox>(rover, "rtkSource"), "TCP B");
    ASSERT_NO_FATAL_FAILURE(ApplyOk());
    ASSERT_NO_FATAL_FAILURE(Save(kBaseRoverParameters));
    ExpectEdited({{"/par/ref/", "-20.2500}"},
                  {"/par/cmr/", "\"Base on roof\"}"},
                  {"/par/pos/pd/", "delay,0.0,high"},
                  {"/par/pos/pd/", "/dev/tcp/b"}});
    ExpectReplayed();
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

TEST_F(ReplayTest, PortPagesToo)
{
    // The Bluetooth name is set beforehand: applying it on the page restarts the receiver.
    a.Send(QStringLiteral("%%set,/par/blt/name,\"Rover 7\""));
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
    TypeAll(p, {{"ethAddress", "10.0.0.7"},
                {"ethGateway", "10.0.0.1"},
                {"ethTcpTimeout", "60"},
                {"ethFtpPort", "2121"},
                {"ethPassword", "secret word"},
                {"wifiAddress", "10.1.0.7"},
                {"wifiAccessPoint", "A0:B1:C2:D3:E4:F5"},
                {"gsmPin", "1234"}});
    In<QCheckBox>(p, "wifiOn")->click();
    Choose(In<QComboBox>(p, "gsmMode"), "slave");
    a.TakeCommands();
    ASSERT_NO_FATAL_FAILURE(ApplyOk());
    // Nothing at all for the ports left untouched.
    const QStringList sent = a.TakeCommands();
    EXPECT_TRUE(sent.filter(QRegularExpression(QStringLiteral("/dev/(ser/c|tcp/[bcd])\\b|/can/a/sid"))).isEmpty())
        << sent.join('\n').toStdString();
    ASSERT_NO_FATAL_FAILURE(Save(kPortParameters));
    ExpectEdited({{"/par/dev/ser/b/", "38400"},
                  {"/par/out/dev/ser/b:on", "rtcm3/1012={2.00"},
                  {"/par/out/dev/usb/a:on", "kvs/RT={1.00"},
                  {"/par/out/dev/tcp/a:on", "cmr/0="},
                  {"/par/net/ip/", "10.0.0.7"},
                  {"/par/blt/name", "Rover 7"},
                  {"/par/modem/c/", "\"1234\""}});
    ExpectReplayed();
    // Run over TCP A, the script leaves that port's input as it is: taking corrections, it would cut the runner off.
    expected["/par/dev/tcp/a/imode"] = QStringLiteral("cmd");
    ExpectReplayed(QStringLiteral("/dev/tcp/a"), {"/par/dev/tcp/", "/par/out/dev/tcp/a:on"});
}

// The setup header's tags hold spaces and commas; the receiver answers each with its whole tag.
TEST(ReplayHeaderTest, ReceiverAnswersTagsWithSpacesAndCommas)
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

// The parameters of the General, Tovel, Event and Advanced pages, single or by directory.
const char* const kTimingTrackingParameters[] = {
    "/par/out/elm/cur/term",
    "/par/ant/inp",
    "/par/pwr/mode",
    "/par/pwr/charge/bat",
    "/par/pwr/charge/speed",
    "/par/lpm",
    "/par/pwr/out/",
    "/par/pwr/switch/",
    "/par/log/sc/period",
    "/par/out/elm/cur/log",
    "/par/cmd/create/prefix",
    "/par/button/",
    "/par/log/rot/",
    "/par/dev/pps/",
    "/par/dev/event/",
    "/par/ajm/",
    "/par/raw/",
    "/par/pos/msint",
    "/par/frq/mode",
    "/par/frq/in/frq",
    "/par/osc/mode",
    "/par/lock/pcode",
};

TEST_F(ReplayTest, GeneralTovelEventAndAdvancedPagesToo)
{
    ASSERT_TRUE(sheet.Open());

    QWidget* general = sheet.Page(0);
    TypeAll(general, {{"termMask", "12"}});
    Click(general, {"antInternal", "lowPower", "slot4"});
    Choose(In<QComboBox>(general, "powerMode"), "Battery A");
    Choose(In<QComboBox>(general, "chargerMode"), "Charge A");
    Choose(In<QComboBox>(general, "chargerSpeed"), "Normal");
    Choose(In<QComboBox>(general, "powerPorts"), "Off");
    ASSERT_NO_FATAL_FAILURE(ApplyOk());

    // The rates first: the recording interval below is checked against them.
    sheet.SelectPage(7);
    auto* advanced = static_cast<CAdvanced*>(sheet.Page(7));
    Click(advanced, {"ajmMode", "bandGpsL2", "codeMultipath", "adaptiveLoops", "frqInput", "oscLocked"});
    TypeAll(advanced, {{"pllBand", "15"},
                       {"pllOrder", "2"},
                       {"gdlBand", "2.5"},
                       {"inFrequency", "20"},
                       {"rawRate", "50"},
                       {"posRate", "50"},
                       {"codeSmoothing", "300"},
                       {"dopplerSmoothing", "2.5"},
                       {"ionoSmoothing", "600"},
                       {"ionoMinSmoothing", "120"}});
    for (int i = 0; i < CAdvanced::kSubPageCount; ++i) {
        advanced->ShowSubPage(i);  // each sub-page's own Apply state
    }
    ASSERT_NO_FATAL_FAILURE(ApplyOk());
    advanced->SheetClosing();

    sheet.SelectPage(1);
    QWidget* tovel = sheet.Page(1);
    Click(tovel, {"afrm", "removeOld", "occupation", "kinematic", "autoAlways"});
    TypeAll(tovel, {{"recInterval", "0.05"},
                    {"logElevation", "15"},
                    {"filePrefix", "SITE"},
                    {"appendFile", "job1"},
                    {"afrmPeriod", "7200"},
                    {"afrmPhase", "60"},
                    {"afrmTotal", "12"}});
    ASSERT_NO_FATAL_FAILURE(ApplyOk());

    sheet.SelectPage(6);
    QWidget* event = sheet.Page(6);
    Click(event, {"ppsAEnabled", "ppsAFall", "ppsAGLO", "ppsATied", "eventBEnabled", "eventBFall", "eventBUTCus",
                  "eventBLock", "eventBTied"});
    TypeAll(event, {{"ppsAPeriod", "500"}, {"ppsAOffsetNs", "100"}, {"ppsAMarked", "2000"}});
    ASSERT_NO_FATAL_FAILURE(ApplyOk());

    ASSERT_NO_FATAL_FAILURE(Save(kTimingTrackingParameters));
    for (const auto& [path, value] : {std::pair{"/par/pwr/mode", "a"},
                                      {"/par/log/sc/period", "0.05"},
                                      {"/par/cmd/create/prefix", "\"SITE\""},
                                      {"/par/dev/pps/", "{{on,{500},{0,100},fall,glo,2000,off}"},
                                      {"/par/frq/mode", "use"},
                                      {"/par/frq/in/frq", "20"},
                                      {"/par/pos/msint", "50"}}) {
        ASSERT_TRUE(expected[path].startsWith(QLatin1String(value))) << path << " " << expected[path].toStdString();
    }
    // The update rates are set before the recording interval that only they allow.
    const QStringList lines = ScriptLines(dir.filePath(QStringLiteral("setup.kvc")));
    const auto line = [&lines](const char* path) {
        return lines.indexOf(QRegularExpression(QStringLiteral("^%") + QLatin1String(path) + "%.*"));
    };
    EXPECT_LT(line("/par/pos/msint"), line("/par/log/sc/period"));
    ExpectReplayed();

#if defined(NEMOLA_RUN_PATH) && defined(NEMOLA_SIM_PATH)
    // The same file outside the program: nemola-run against nemola-sim, two processes on a free TCP port.
    QProcess simulator;
    const quint16 port = StartTcpSim(simulator, QStringLiteral(NEMOLA_SIM_PATH));
    ASSERT_NE(port, 0);
    const QStringList args{"--tcp", QStringLiteral("127.0.0.1:%1").arg(port), "--folder", dir.path()};
    const ProgramRun setup = RunProgram(QStringLiteral(NEMOLA_RUN_PATH), args + QStringList{"setup.kvc"});
    EXPECT_EQ(setup.code, 0) << (setup.out + setup.err).toStdString();
    // The runner's own port still takes commands, and the receiver has the setup.
    ASSERT_TRUE(
        WriteFile(dir.filePath(QStringLiteral("check.kvc")),
                  "%a%print,/cur/term\r\n@echo port=@0\r\n%b%print,/par/dev/pps/a/per/ms\r\n@echo period=@0\r\n"));
    const ProgramRun check = RunProgram(QStringLiteral(NEMOLA_RUN_PATH), args + QStringList{"check.kvc"});
    const QString checkOutput = check.out + check.err;
    EXPECT_EQ(check.code, 0) << checkOutput.toStdString();
    EXPECT_TRUE(checkOutput.contains(QLatin1String("port=/dev/tcp/"))) << checkOutput.toStdString();
    EXPECT_TRUE(checkOutput.contains(QLatin1String("period=500"))) << checkOutput.toStdString();
    // The setup, compared over TCP with the receiver it was replayed on, matches; three changes by hand are what
    // differs, and applying them is proved by reading back.
    const QStringList compare = args + QStringList{"--check", "setup.kvc"};
    ProgramRun run = RunProgram(QStringLiteral(NEMOLA_RUN_PATH), compare);
    EXPECT_EQ(run.code, 0) << (run.out + run.err).toStdString();
    ASSERT_TRUE(WriteFile(dir.filePath(QStringLiteral("hand.kvc")),
                          "set,/par/pos/elm,17\r\nset,/par/pos/datum/cur,W72\r\nem,/dev/ser/b,kvs/PG:{1.00}\r\n"));
    EXPECT_EQ(RunProgram(QStringLiteral(NEMOLA_RUN_PATH), args + QStringList{"hand.kvc"}).code, 0);
    run = RunProgram(QStringLiteral(NEMOLA_RUN_PATH), compare);
    EXPECT_EQ(run.code, 5) << run.err.toStdString();
    QStringList differing;
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        differing << line.section(QLatin1Char(':'), 0, 0);
    }
    EXPECT_EQ(differing, (QStringList{"/par/pos/elm", "/par/pos/datum/cur", "/par/out/dev/ser/b"}))
        << run.out.toStdString();
    run = RunProgram(QStringLiteral(NEMOLA_RUN_PATH), args + QStringList{"--apply-differences", "setup.kvc"});
    EXPECT_EQ(run.code, 0) << (run.out + run.err).toStdString();
    EXPECT_EQ(run.out.count(QLatin1String("(verified)")), 3) << run.out.toStdString();
    simulator.kill();
    simulator.waitForFinished(5000);
#endif
}

// Random printable texts in every free-text parameter (but the Bluetooth ones, whose apply restarts the receiver)
// go through Apply, Save and a replay on a fresh receiver: each comes back as it was set, or Apply refused it.
TEST_F(ReplayTest, TextsReplayAsTheyWereSetOrAreRefusedAtApply)
{
    ASSERT_TRUE(sheet.Open());
    const char* const paths[] = {"/par/cmd/create/prefix", "/par/button/file", "/par/cmr/base/desc", "/par/net/passwd",
                                 "/par/modem/c/pin"};
    const std::tuple<int, const char*, int> texts[] = {
        {1, "filePrefix", 0}, {1, "appendFile", 1},  {3, "cmrShortId", 2}, {3, "cmrCogo", 2},
        {3, "cmrLongId", 2},  {5, "ethPassword", 3}, {5, "gsmPin", 4}};
    // Letters and digits, and what the command line and the script language make something of.
    const QString alphabet = QStringLiteral("aZ09 @@@,\"%&;{}#:~-_.");
    std::mt19937 random(29);
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < 4; ++round) {
        for (const auto& [page, edit, path] : texts) {
            QString text = round == 0 && page == 1 ? QStringLiteral("Mast@1") : QString();  // "@1": an argument
            for (int n = text.isEmpty() ? int(random() % 9) : 0; n > 0; --n) {
                text += alphabet[int(random() % alphabet.size())];
            }
            sheet.SelectPage(page);
            Type(In<QLineEdit>(sheet.Page(page), edit), text);
            sheet.Apply();
            if (sheet.StatusText() == QStringLiteral("Applied")) {
                ++accepted;
                EXPECT_TRUE(a.Sim().Param(QLatin1String(paths[path])).contains(text)) << text.toStdString();
            } else {
                ++refused;
                sheet.Refresh();  // the receiver's value again
            }
        }
        ASSERT_NO_FATAL_FAILURE(Save(paths));
        ExpectReplayed();
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
    EXPECT_GT(accepted, 4);
    EXPECT_GT(refused, 4);
}
