#include "app/AppTestSupport.h"
#include "app/SiteDlg.h"
#include "app/StreamFrames.h"
#include "app/TargetDlg.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "support/SimHarness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <numbers>

namespace {

constexpr double kDeg = std::numbers::pi / 180;

template <typename T = QLineEdit>
T* Find(QWidget& parent, const char* name)
{
    T* w = parent.findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QByteArray PgBody(double latDeg, double lonDeg, int solution)
{
    return frames::Floats<double>({latDeg * kDeg, lonDeg * kDeg, 250.0}) + frames::Floats<float>({0}) +
           frames::Bytes({solution, 0});
}

}  // namespace

TEST(SiteEvents, RefusesWhatCannotBeSentSafely)
{
    const std::vector<std::tuple<QString, QString, QString, SiteField>> cases = {
        {"   ", "1.5", "UNKNOWN", SiteField::Name},
        {"A\"B", "1.5", "UNKNOWN", SiteField::Name},
        {"A;set,reset,yes", "1.5", "UNKNOWN", SiteField::Name},
        {"A&&em,,{PG}", "1.5", "UNKNOWN", SiteField::Name},
        {"A\nB", "1.5", "UNKNOWN", SiteField::Name},
        {"Pillar", "1.5m", "UNKNOWN", SiteField::AntennaHeight},
        {"Pillar", "inf", "UNKNOWN", SiteField::AntennaHeight},
        {"Pillar", "0x1A", "UNKNOWN", SiteField::AntennaHeight},
        {"Pillar", "1,5", "UNKNOWN", SiteField::AntennaHeight},
        {"Pillar", "1.5", "X\";em,,{PG}", SiteField::AntennaType},
        {" Pillar 7 ", " -0.25 ", "OLD MODEL 3", SiteField::None},
        {"Pillar", "2e0", "UNKNOWN", SiteField::None},
    };
    for (const auto& [name, height, type, expected] : cases) {
        SCOPED_TRACE(name.toStdString() + "|" + height.toStdString());
        SiteField field = SiteField::Name;
        EXPECT_EQ(CheckSiteInfo(SiteInfo{name, height, false, false, type}, &field).isEmpty(),
                  expected == SiteField::None);
        EXPECT_EQ(field, expected);
    }
    EXPECT_TRUE(AntennaTypes().contains(QStringLiteral("UNKNOWN")));
}

using SiteDialog = FreshSettings;

TEST_F(SiteDialog, StoresSendsAndReportsARefusal)
{
    SiteInfo site{"Pillar 7", "1.5", true, false, "OLD MODEL 3"};
    EXPECT_EQ(SiteEventBatch(site), QStringLiteral("@scr stoperrors\n%%event,\"_SIT=Pillar 7\"\n"
                                                   "%%event,\"_ANH=1.5S\"\n%%event,\"_DYM=STATIC\"\n"
                                                   "%%event,\"_ANT=OLD MODEL 3\"\n@end\n"));
    CReceiverHolder holder;
    CSimHarness sim(CSimHarness::VirtualClock(), &holder);
    CProfile* profile = CProfile::Instance();
    {
        CSiteDlg dialog(site, profile, &holder);
        // A stored type that the list does not know is still the one shown.
        EXPECT_EQ(Find<QComboBox>(dialog, "antennaType")->currentText(), QStringLiteral("OLD MODEL 3"));
        Find(dialog, "antennaHeight")->setText(QStringLiteral("1.5m"));
        Find<QPushButton>(dialog, "sendToReceiver")->click();
        EXPECT_EQ(dialog.Message(), QStringLiteral("Incorrect Antenna Height value"));
        EXPECT_TRUE(sim.Sim().Events().isEmpty());

        Find(dialog, "antennaHeight")->setText(QStringLiteral("2.10"));
        Find<QComboBox>(dialog, "antennaStatus")->setCurrentIndex(1);
        Find<QPushButton>(dialog, "sendToReceiver")->click();
        EXPECT_EQ(dialog.Message(), QStringLiteral("Sent"));
        EXPECT_EQ(sim.Sim().Events(), (QStringList{"_SIT=Pillar 7", "_ANH=2.10S", "_DYM=DYNAMIC", "_ANT=OLD MODEL 3"}));

        sim.Sim().RefuseEvents(true);
        Find<QPushButton>(dialog, "sendToReceiver")->click();
        EXPECT_TRUE(dialog.Message().startsWith(QLatin1String("ER"))) << dialog.Message().toStdString();
    }
    EXPECT_TRUE(site.moving);
    EXPECT_EQ(profile->ReadString("Site", "AntenaHeight", ""), QStringLiteral("2.10"));
    EXPECT_TRUE(profile->ReadBool("Site", "Status", false));
    EXPECT_TRUE(profile->ReadBool("Site", "HeightType", false));
    EXPECT_EQ(profile->ReadString("Site", "AntennaType", ""), QStringLiteral("OLD MODEL 3"));
    EXPECT_EQ(profile->ReadString("Site", "SiteName", ""), QStringLiteral("Pillar 7"));
    CProfile::Release();

    CReceiverHolder closed;
    CSiteDlg offline(site, nullptr, &closed);
    EXPECT_FALSE(Find<QPushButton>(offline, "sendToReceiver")->isEnabled());
    Find(offline, "siteName")->setText(QStringLiteral("   "));
    Find<QPushButton>(offline, "ok")->click();
    EXPECT_EQ(offline.Message(), QStringLiteral("Incorrect Site Name value"));
}

TEST(TargetPosition, ReadsAnglesStrictly)
{
    // degrees, minutes, seconds, south or west, limit, accepted, degrees stored
    const std::vector<std::tuple<const char*, const char*, const char*, bool, double, bool, double>> cases = {
        {"50", "30", "36", true, 90, true, -50.51},
        {"90", "0", "0", false, 90, true, 90},  // the pole, not folded to the equator
        {"90", "0", "0.1", false, 90, false, 0},
        {"91", "0", "0", false, 90, false, 0},  // never folded to 1 degree
        {"179", "59", "59.9", true, 180, true, -(179 + 59 / 60.0 + 59.9 / 3600)},
        {"inf", "0", "0", false, 90, false, 0},
        {"0x10", "0", "0", false, 90, false, 0},
        {"-5", "0", "0", false, 90, false, 0},
        {"5", "1'", "0", false, 90, false, 0},
        {" 5 ", "1.5", "0", false, 90, true, 5.025},
    };
    for (const auto& [d, m, s, negative, limit, ok, deg] : cases) {
        SCOPED_TRACE(std::string(d) + " " + m + " " + s);
        double rad = 99;
        EXPECT_EQ(ReadTargetAngle(DmsText{d, m, s, negative}, limit, &rad), ok);
        if (ok) {
            EXPECT_NEAR(rad / kDeg, deg, 1e-9);
        }
    }
}

TEST(TargetPosition, DialogTakesTheViewsLastPosition)
{
    QByteArray lastPg;
    std::vector<std::pair<double, double>> applied;
    CTargetDlg dialog(
        10 * kDeg, -20 * kDeg, true, [&] { return lastPg; },
        [&](double lat, double lon) { applied.emplace_back(lat, lon); });
    EXPECT_EQ(Find<QComboBox>(dialog, "lonHemisphere")->currentText(), QStringLiteral("W"));

    QPushButton* get = Find<QPushButton>(dialog, "getFromReceiver");
    get->click();  // no position yet: says so instead of taking 0,0
    EXPECT_EQ(dialog.Message(), QStringLiteral("No position from the receiver yet"));
    lastPg = PgBody(45, 7, 0);  // no solution
    get->click();
    EXPECT_TRUE(applied.empty());

    lastPg = PgBody(-33.5, 151.25, 1);
    get->click();
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_NEAR(applied[0].first / kDeg, -33.5, 1e-9);
    EXPECT_EQ(Find(dialog, "latMinutes")->text(), QStringLiteral("30"));
    EXPECT_EQ(Find<QComboBox>(dialog, "latHemisphere")->currentText(), QStringLiteral("S"));

    Find(dialog, "lonDegrees")->setText(QStringLiteral("181"));
    Find<QPushButton>(dialog, "ok")->click();
    EXPECT_EQ(dialog.Message(), QStringLiteral("Invalid longitude value"));
    Find(dialog, "lonDegrees")->setText(QStringLiteral("151"));
    Find<QPushButton>(dialog, "ok")->click();
    EXPECT_EQ(applied.size(), 2u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}
