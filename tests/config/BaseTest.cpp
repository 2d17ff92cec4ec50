// The Base page against the simulator: reference positions both ways, the firmware rule, checks before sending.

#include "PageTestSupport.h"

#include "config/Base.h"
#include "config/ReceiverCfgDlg.h"
#include "config/SpinEdit.h"
#include "link/Profile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QThread>
#include <QtEndian>

#include <cmath>

namespace {

const QString kGpsRef = QStringLiteral("{W84,N50d05m13.20000s,E014d25m15.60000s,+245.0000}");
const QString kGloRef = QStringLiteral("{P90,S10d00m01.50000s,W020d30m00.00000s,-12.5000}");

class BaseTest : public CPageTest<CBase>
{
protected:
    void Open(const char* profile = "full", const Values& values = {}, bool oneTime = true)
    {
        CProfile::Instance()->WriteBool(QStringLiteral("Base"), QStringLiteral("GPSGLNAtOneTime"), oneTime);
        CProfile::Release();
        CPageTest<CBase>::Open(profile, values);
    }
    QStringList Coordinates()
    {
        QStringList out;
        for (const char* name : {"latHemisphere", "lonHemisphere"}) {
            out << W<QComboBox>(name)->currentText();
        }
        for (const char* name :
             {"latDegrees", "latMinutes", "latSeconds", "lonDegrees", "lonMinutes", "lonSeconds", "height"}) {
            out << W<QLineEdit>(name)->text();
        }
        return out;
    }
};

QByteArray PgBody(double latDeg, double lonDeg, double height)
{
    QByteArray body(30, '\0');
    body[28] = 1;  // a standalone solution
    const double v[3] = {latDeg / 57.29577951308232, lonDeg / 57.29577951308232, height};
    for (int i = 0; i < 3; ++i) {
        qToLittleEndian(v[i], body.data() + 8 * i);
    }
    return body;
}

}  // namespace

TEST_F(BaseTest, ApplyAndScriptSendEveryStepInOrder)
{
    // A long ID of the 32 characters the receiver takes.
    const QString desc = "{\"BASE\",\"\",\"" + QString(32, QLatin1Char('L')) + "\"}";
    Open("full", {{"/par/ref/pos/glo/geo", kGloRef.toLatin1()}, {"/par/cmr/base/desc", desc.toLatin1().constData()}});
    EXPECT_TRUE(W<QRadioButton>("oneTime")->isChecked());
    EXPECT_EQ(W<QTabBar>("coordTabs")->count(), 1);
    EXPECT_EQ(Coordinates().join(' '), QStringLiteral("N E 50 05 13.20000 014 25 15.60000 +245.0000"));
    EXPECT_EQ(Enabled({W("avgSpan"), W("latDegrees"), W("getFromReceiver"), W("cmrGloSpin"), W("rtcmCa")}),
              QStringLiteral("01111"));
    EXPECT_FALSE(page->m_bChanged);

    // At one time, a GLONASS reference of the receiver's own is left alone until the user edits the coordinates;
    // the script keeps it too.
    QString result = "x";
    const QStringList applied = Applied(&result);
    EXPECT_EQ(result, QString());
    EXPECT_EQ(
        applied,
        QStringList({"set,/par/ref/avg/mode,off", "set,/par/ref/pos/gps/geo," + kGpsRef,
                     "set,/par/ref/ant/l2_l1,{0.0000,0.0000,0.0000}", "set,/par/rtcm/base/stid,0",
                     "set,/par/rtcm/base/svm,12", "set,/par/rtcm/base/health,good", "set,/par/rtcm/base/meas/ca,on",
                     "set,/par/rtcm/base/meas/p1,off", "set,/par/rtcm/base/meas/p2,on",
                     "set,/par/rtcm/base/sys,{on,on}", "set,/par/rtcm/base/smooth,off", "set,/par/cmr/base/stid,0",
                     "set,/par/cmr/base/motion,static", "set,/par/cmr/base/pcode,off", "set,/par/cmr/base/meas/p2,on",
                     "set,/par/cmr/base/glo/type,5", "set,/par/cmr/base/desc," + desc}));
    QStringList withGlonass = applied;
    withGlonass.insert(2, "set,/par/ref/pos/glo/geo," + kGloRef);
    EXPECT_EQ(Script(), AsScript(withGlonass));
    Type(W<QLineEdit>("height"), "+246.0000");
    const QString edited = QStringLiteral("{W84,N50d05m13.20000s,E014d25m15.60000s,+246.0000}");
    EXPECT_EQ(Applied().filter("/ref/pos/"),
              QStringList({"set,/par/ref/pos/gps/geo," + edited, "set,/par/ref/pos/glo/geo," + edited}));
    EXPECT_EQ(Script().filter("/ref/pos/glo"),
              QStringList({"%/par/ref/pos/glo/geo%set,/par/ref/pos/glo/geo," + edited}));

    // The GLONASS message type spins within 3..7.
    for (int i = 0; i < 3; ++i) {
        W<CSpinButtons>("cmrGloSpin")->Step(1);
    }
    EXPECT_EQ(W<QLineEdit>("cmrGloType")->text(), QStringLiteral("7"));
    EXPECT_TRUE(page->m_bChanged);
}

TEST_F(BaseTest, AveragedSendsNoPositionAlsoWhenTheQueryFindsItOn)
{
    Open("full", {{"/par/ref/avg/mode", "on"}});
    EXPECT_EQ(Enabled({W("avgSpan"), W("latDegrees"), W("lonHemisphere"), W("height"), W("refDatum"),
                       W("datumParameters"), W("getFromReceiver")}),
              QStringLiteral("1000000"));
    EXPECT_FALSE(page->m_bChanged);
    EXPECT_EQ(Applied().filter(QRegularExpression(QStringLiteral("/ref/(avg|pos)/"))),
              QStringList({"set,/par/ref/avg/mode,on", "set,/par/ref/avg/span,180"}));
    EXPECT_TRUE(Script().filter(QStringLiteral("/ref/pos/")).isEmpty());
    W<QCheckBox>("averaged")->click();
    EXPECT_EQ(Enabled({W("avgSpan"), W("latDegrees"), W("getFromReceiver")}), QStringLiteral("011"));
}

TEST_F(BaseTest, SeparateSetsHaveTabsOfTheirOwnAndTheChoiceIsKept)
{
    Open("full", {{"/par/ref/pos/glo/geo", kGloRef.toLatin1()}});
    W<QRadioButton>("separately")->click();
    EXPECT_TRUE(page->m_bChanged);
    ASSERT_EQ(W<QTabBar>("coordTabs")->count(), 2);
    EXPECT_EQ(W<QTabBar>("coordTabs")->tabText(1), QStringLiteral("GLONASS"));
    Type(W<QLineEdit>("latMinutes"), "06");
    page->SelectCoordinateTab(1);
    EXPECT_EQ(Coordinates().join(' '), QStringLiteral("S W 10 00 01.50000 020 30 00.00000 -12.5000"));
    Type(W<QLineEdit>("height"), "-13");
    EXPECT_EQ(Applied().filter(QStringLiteral("/ref/pos/")),
              QStringList({"set,/par/ref/pos/gps/geo,{W84,N50d06m13.20000s,E014d25m15.60000s,+245.0000}",
                           "set,/par/ref/pos/glo/geo,{P90,S10d00m01.50000s,W020d30m00.00000s,-13}"}));
    EXPECT_EQ(sim->Sim().Param("/par/ref/pos/glo/geo"), "{P90,S10d00m01.50000s,W020d30m00.00000s,-13.0000}");

    CBase again;
    again.QuerySettings();
    EXPECT_TRUE(Child<QRadioButton>(&again, "separately")->isChecked());
    EXPECT_EQ(Child<QTabBar>(&again, "coordTabs")->count(), 2);
}

TEST_F(BaseTest, FirmwareAndMissingParametersDecideWhatIsShownAndSent)
{
    // RTCM C/A measurements from firmware 2.2 on; 2.1 also lacks the antenna offsets and the CMR GLONASS type.
    const struct
    {
        const char* profile;
        bool full;
        const char* enabled;  // rtcmCa, offsetEast, cmrGloType, cmrGloSpin
    } cases[] = {{"fw21", false, "0000"}, {"fw22", true, "1111"}};
    for (const auto& [profile, full, enabled] : cases) {
        Open(profile);
        EXPECT_EQ(Enabled({W("rtcmCa"), W("offsetEast"), W("cmrGloType"), W("cmrGloSpin")}), enabled) << profile;
        const QString applied = Applied().join(' ');
        EXPECT_EQ(applied.contains(QLatin1String("meas/ca")), full) << profile;
        EXPECT_EQ(applied.contains(QLatin1String("l2_l1")), full) << profile;
        EXPECT_EQ(Script().join(' ').contains(QLatin1String("glo/type")), full) << profile;
    }
}

TEST_F(BaseTest, BadInputIsRefusedBeforeAnythingIsSent)
{
    Open();
    const struct
    {
        const char* edit;
        const char* text;
        const char* error;
    } cases[] = {
        {"latDegrees", "91", "Invalid Base reference latitude"},
        {"latSeconds", "abc", "Invalid Base reference latitude"},
        {"lonDegrees", "180", "Invalid Base reference longitude"},  // 180d25m is past the date line
        {"lonSeconds", "60", "Invalid Base reference longitude"},
        {"height", "1e9", "Invalid Base reference height"},
        {"cmrShortId", "A\"B", "Invalid CMR base description"},
        {"cmrLongId", "a,b", "Invalid CMR base description"},
    };
    for (const auto& c : cases) {
        const QString before = W<QLineEdit>(c.edit)->text();
        Type(W<QLineEdit>(c.edit), QString::fromUtf8(c.text));
        QString result;
        EXPECT_EQ(Applied(&result), QStringList()) << c.edit << " " << c.text;
        EXPECT_EQ(result, QString::fromLatin1(c.error)) << c.edit << " " << c.text;
        Type(W<QLineEdit>(c.edit), before);
    }
    Type(W<QLineEdit>("cmrCogo"), "Pillar 7");
    EXPECT_TRUE(Applied().contains(QStringLiteral("set,/par/cmr/base/desc,{\"BASE\",\"Pillar 7\",\"\"}")));
}

TEST_F(BaseTest, ReferenceThatDoesNotParseCompletelyIsNotReported)
{
    Open("full", {{"/par/ref/pos/glo/geo", "{W84,N50d05m13.2s,E014d25m}"}}, false);
    EXPECT_TRUE(page->IsReported(CBase::kGps));
    EXPECT_FALSE(page->IsReported(CBase::kGlonass));
    page->SelectCoordinateTab(1);
    EXPECT_EQ(Coordinates().join(' ').trimmed(), QString());
    EXPECT_EQ(Enabled({W("latDegrees"), W("getFromReceiver")}), QStringLiteral("00"));
    EXPECT_EQ(Applied().filter(QStringLiteral("/ref/pos/")), QStringList({"set,/par/ref/pos/gps/geo," + kGpsRef}));
    // Nor does the receiver take a position that is out of range or incomplete.
    for (const char* bad : {"{W84,N90d00m00.1s,E0d0m0s,0}", "{W84,N10d00m00s,E0d0m0s}", "{W84,N1d0m0s,X0d0m0s,0}"}) {
        EXPECT_FALSE(CReceiverHolder::Shared().Send(QStringLiteral("%%set,/par/ref/pos/gps/geo,") + bad)) << bad;
    }
}

TEST(BaseValues, PositionTextsBothWays)
{
    const struct
    {
        double lat, lon, height;
        const char* texts;  // hemispheres, latitude, longitude, height
    } cases[] = {
        {-33.5, 151.25, 10, "S 33 30 0.00000 E 151 15 0.00000 +10.0000"},
        {10 + 59 / 60.0 + 59.999999 / 3600, -0.5, -3.25, "N 11 00 0.00000 W 00 30 0.00000 -3.2500"},
        {55.75342935, 37.61975647, 150.1234, "N 55 45 12.34566 E 37 37 11.12329 +150.1234"},
    };
    for (const auto& c : cases) {
        RefPosition p;
        p.datum = "W84";
        ASSERT_TRUE(PositionFromPg(PgBody(c.lat, c.lon, c.height), &p));
        const QString texts = QStringList{p.latHemisphere, p.latDegrees, p.latMinutes, p.latSeconds, p.lonHemisphere,
                                          p.lonDegrees,    p.lonMinutes, p.lonSeconds, p.height}
                                  .join(' ');
        EXPECT_EQ(texts, QString::fromLatin1(c.texts));
        RefPosition back;
        ASSERT_TRUE(ParseRefPosition(p.Value(), &back));
        EXPECT_EQ(back, p);
    }
    RefPosition p;
    EXPECT_FALSE(PositionFromPg(QByteArray(23, '\0'), &p));
    EXPECT_FALSE(PositionFromPg(PgBody(std::nan(""), 0, 0), &p));
    for (const char* partial : {"{W84,X50d05m13.2s,E014d25m15.6s,1}", "{W84,N50d05m13.2s,E014d25m15.6s,"}) {
        EXPECT_FALSE(ParseRefPosition(QString::fromLatin1(partial), &p)) << partial;
    }
}

// "Get from receiver" reads the sheet's latest "PG" of a receiver at exactly 33.5 degrees south, and the
// reference the receiver then takes is that position.
TEST(BaseSheetTest, GetFromReceiverUsesTheSheetsLatestPosition)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.exactPosition = true;
    options.latitudeDeg = -33.5;
    options.longitudeDeg = -70.75;
    options.heightM = 520;
    CSharedSim sim(options);
    CScriptedPrompts prompts;
    CProfile::Instance()->WriteBool(QStringLiteral("Base"), QStringLiteral("GPSGLNAtOneTime"), true);
    CProfile::Release();
    CReceiverCfgDlg sheet(SheetContext(sim));
    ASSERT_TRUE(sheet.Open());
    sheet.SelectPage(3);
    auto* page = dynamic_cast<CBase*>(sheet.Page(3));
    ASSERT_NE(page, nullptr);

    // Nothing yet, or an epoch without a solution (its coordinates are zeros).
    for (const QByteArray& body : {QByteArray(), QByteArray(30, '\0')}) {
        g_pgMessage.Store(body.constData(), int(body.size()));
        page->GetFromReceiver();
        EXPECT_EQ(sheet.StatusText(), QStringLiteral("No position received from the receiver yet"));
        EXPECT_FALSE(page->m_bChanged);
    }

    // Messages before the first fix carry no position: wait for one south of the equator.
    sim.Advance(7000);
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        const QByteArray body = g_pgMessage.Body();
        if (body.size() >= 8 && qFromLittleEndian<double>(body.constData()) < -0.5) {
            break;
        }
        QThread::msleep(2);
    }
    page->GetFromReceiver();
    EXPECT_EQ(sheet.StatusText(), QString());
    EXPECT_TRUE(sheet.IsApplyEnabled());
    sheet.Apply();
    ASSERT_EQ(sheet.StatusText(), QStringLiteral("Applied"));
    EXPECT_EQ(page->Coordinates(CBase::kGps).Value(), "{W84,S33d30m0.00000s,W70d45m0.00000s,+520.0000}");
    EXPECT_EQ(sim.Sim().Param("/par/ref/pos/glo/geo"), "{W84,S33d30m00.00000s,W070d45m00.00000s,+520.0000}");
}
