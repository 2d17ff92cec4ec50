#include "app/ReceiverState.h"
#include "app/StreamFrames.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace {

using namespace frames;

constexpr double kDegToRad = 1.0 / CReceiverState::kRadToDeg;

TEST(ReceiverState, FormatsGeodeticPositionsWithHemispheresAndLeadingZeros)
{
    CReceiverState s;
    s.Decode(Pg(-(50 + 5.0 / 60 + 3.25 / 3600), -(14 + 25.0 / 60 + 17.5 / 3600), 245.5, 1));
    EXPECT_EQ(s.Snapshot().position,
              QStringLiteral("Lat: 50°05' 03.2500\" S\nLon: 14°25' 17.5000\" W\nAlt:  245.5000 m"));

    // Seconds that round to 60 become the next minute.
    s.Decode(Pg(10 + 59.0 / 60 + 59.99996 / 3600, 1, 0, 4));
    EXPECT_TRUE(s.Snapshot().position.startsWith(QStringLiteral("Lat: 11°00' 00.0000\" N")))
        << qPrintable(s.Snapshot().position);

    const char* const texts[] = {"(no solution)", "(standalone)", "(code differential)", "(RTK float)", "(RTK fixed)"};
    for (int t = 0; t < 5; ++t) {
        s.Decode(Pg(1, 1, 0, t));
        EXPECT_EQ(s.Snapshot().solution, QString::fromLatin1(texts[t])) << t;
    }
    s.Decode(Pg(1, 1, 0, 7));
    EXPECT_TRUE(s.Snapshot().solution.isEmpty());
}

TEST(ReceiverState, ShowsTheTargetOnceAfterNoDataAndItsCourse)
{
    CReceiverState s;
    s.SetTarget(49.0 * kDegToRad, 14.0 * kDegToRad);
    s.SetNoData(true);
    s.Decode(Pg(50.0, 14.0, 0, 1));
    EXPECT_FALSE(s.NoData());
    EXPECT_EQ(s.Snapshot().targetLat, QStringLiteral("Lat:    49°00'00.0000\" N"));
    EXPECT_EQ(s.Snapshot().targetLon, QStringLiteral("Lon:   14°00'00.0000\" E"));
    // Due south: north negative, east zero, course 180°.
    const QStringList lines = s.Snapshot().target.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("ETT:          0.000 m"));
    EXPECT_EQ(lines[1], QString::asprintf("NTT:%15.3lf m", -1.0 * kDegToRad * CReceiverState::kEarthRadius));
    EXPECT_EQ(lines[3], QStringLiteral("CTT:    180°00'00.00\""));

    // The target fields keep their text until no-data is set again.
    s.SetTarget(0, 0);
    s.Decode(Pg(50.0, 14.0, 0, 1));
    EXPECT_EQ(s.Snapshot().targetLat, QStringLiteral("Lat:    49°00'00.0000\" N"));
    // North-west of the position: course between 270 and 360.
    s.SetTarget(51.0 * kDegToRad, 13.0 * kDegToRad);
    s.Decode(Pg(50.0, 14.0, 0, 1));
    EXPECT_TRUE(s.Snapshot().target.contains(QStringLiteral("CTT:    32"))) << qPrintable(s.Snapshot().target);
}

TEST(ReceiverState, TargetsAcrossTheDateLineAreNearAndImpossibleValuesChangeNoLabel)
{
    // 0.2° of longitude apart on the equator (22.2 km), either side of the 180° meridian: target lon, lon, course.
    for (const auto& [targetLon, lon, course] :
         {std::tuple{-179.9, 179.9, "CTT:    90°"}, {179.9, -179.9, "CTT:    270°"}, {0.1, -0.1, "CTT:    90°"}}) {
        CReceiverState s;
        s.SetTarget(0, targetLon * kDegToRad);
        s.Decode(Pg(0, lon, 0, 1));
        const QStringList lines = s.Snapshot().target.split(QLatin1Char('\n'));
        EXPECT_NEAR(lines.value(2).mid(4).chopped(2).toDouble(), 0.2 * kDegToRad * CReceiverState::kEarthRadius, 1);
        EXPECT_TRUE(lines.value(3).startsWith(QString::fromUtf8(course))) << lines.value(3).toStdString();
    }

    const double nan = std::numeric_limits<double>::quiet_NaN();
    CReceiverState s;
    s.SetTarget(49 * kDegToRad, 14 * kDegToRad);
    s.Decode(Pg(50, 14, 200, 1));
    s.Decode(Frame("PO", Floats<double>({1, 2, 3}) + Floats<float>({0.5f}) + Bytes({1})));
    const StatusSnapshot before = s.Snapshot();
    for (const QByteArray& bad : {Pg(nan, 14, 0, 2), Pg(50, 14, nan, 2), Pg(1e300, 14, 0, 2), Pg(50, -1e300, 0, 2),
                                  Frame("PO", Floats<double>({nan, 2, 3}) + Floats<float>({0.5f}) + Bytes({1}))}) {
        s.Decode(bad);
    }
    EXPECT_EQ(s.Snapshot().position + s.Snapshot().solution + s.Snapshot().target + s.Snapshot().cartesian,
              before.position + before.solution + before.target + before.cartesian);
    // A target from a damaged settings file leaves the target block empty.
    s.SetTarget(nan, 0);
    s.Decode(Pg(51, 14, 0, 1));
    EXPECT_EQ(s.Snapshot().target, before.target);
}

TEST(ReceiverState, FormatsTimesDopsRmsAndOffsets)
{
    const QByteArray po = Floats<double>({3900000.0, 1000000.0, 4900000.0}) + Floats<float>({1});
    const struct
    {
        QByteArray message;
        QString StatusSnapshot::*field;
        const char* text;
    } cases[] = {
        {Frame("~~", Values<quint32>({(13 * 3600 + 5 * 60 + 9) * 1000 + 999})), &StatusSnapshot::time,
         "Receiver time: 13:05:09"},
        {Frame("TT", Values<quint32>({90061})), &StatusSnapshot::trackingTime, "Tracking time:1d 01:01:01"},
        {Frame("TT", Values<quint32>({3661})), &StatusSnapshot::trackingTime, "Tracking time: 01:01:01"},
        {Frame("DP", Floats<float>({3, 4, 1}) + Bytes({1})), &StatusSnapshot::hdop, "HDOP:  3.0000"},
        {Frame("SG", Floats<float>({0.3f, 0.4f, 0.06f, 0.08f}) + Bytes({1})), &StatusSnapshot::rmsPos,
         "RMS Pos: 0.5000 m"},
        {Frame("SG", Floats<float>({0.3f, 0.4f, 0.06f, 0.08f}) + Bytes({1})), &StatusSnapshot::rmsVel,
         "RMS Vel:  0.1000 m/s"},
        {Frame("OO", Floats<float>({2.5e-7f})), &StatusSnapshot::oscOffset, "Osc. offset: +0.2500 ppm"},
        {Frame("DO", Floats<float>({-1.25e-6f, 0})), &StatusSnapshot::clockOffset, "Clock offset: -1.2500 ppm"},
        {Frame("PO", po + Bytes({0})), &StatusSnapshot::cartesian, "X:\nY:\nZ:"},  // no solution: unchanged
        {Frame("PO", po + Bytes({1})), &StatusSnapshot::cartesian,
         "X:    3900000.0000\nY:    1000000.0000\nZ:    4900000.0000"},
    };
    CReceiverState s;
    for (const auto& c : cases) {
        s.Decode(c.message);
        EXPECT_EQ(s.Snapshot().*c.field, QString::fromUtf8(c.text)) << c.message.left(2).constData();
    }
    EXPECT_FLOAT_EQ(float(s.Drift()), -1.25e-6f);
}

// Event counts and a text with a wrong checksum: with a whole epoch in LiveViewTest.
TEST(ReceiverState, KeepsAlmanacsAndReadsLinkQuality)
{
    CReceiverState s;
    s.Decode(Frame("NA", Bytes({0}) + QByteArray(45, '\0')));
    s.Decode(Frame("NA", Bytes({25}) + QByteArray(45, '\0')));
    for (int slot = 1; slot <= 24; ++slot) {
        EXPECT_FALSE(s.GlonassAlmanac(slot));
    }
    s.Decode(Frame("NA", Bytes({24}) + QByteArray(45, '\0')));
    EXPECT_TRUE(s.GlonassAlmanac(24));
    s.Decode(Frame("GA", Bytes({38}) + QByteArray(45, '\0')));
    s.Decode(Frame("GA", Bytes({5}) + QByteArray(45, '\0')));
    EXPECT_TRUE(s.GpsAlmanac(5));

    s.Decode("MS020,RTCMST,999,0000,0000,100.00,@1F");
    EXPECT_TRUE(s.Snapshot().linkQuality.isEmpty());
    s.Decode(MsText(",RTCMST,001,0012,0003,087.50,"));
    EXPECT_EQ(s.Snapshot().linkQuality, QStringLiteral("LQ:087.5%(001,0012,0003)"));
    // A length that promises more than arrived is not read past.
    s.Decode("MS0FF,RTCMST,@00");
    EXPECT_EQ(s.Snapshot().linkQuality, QStringLiteral("LQ:087.5%(001,0012,0003)"));
}

// The common column texts are checked row by row with a full epoch in LiveViewTest; these are the rest.
TEST(ReceiverState, FillsTheSatelliteLists)
{
    CReceiverState s;
    s.Decode(Frame("GA", Bytes({5}) + QByteArray(45, '\0')));
    // GPS 5 and 12, GLONASS 38 and 52 (slot unknown), Galileo 71+10, SBAS 124, QZSS 193 (no list).
    s.Decode(Frame("SI", Bytes({5, 38, 12, 81, 124, 52, 193})));
    s.Decode(Frame("NN", Bytes({3, 255})));
    s.Decode(Frame("EL", Bytes({45, 10, 127, 80, 30, 5, 60})));
    s.Decode(Frame("SS", Bytes({0, 40, 52, 3, 56, 7, 1, 2})));
    s.Decode(Frame("TC", Values<quint16>({5, 65535, 125, 0, 0, 0, 0})));

    const auto& l = s.Snapshot().lists;
    EXPECT_EQ(s.Snapshot().summary, QStringLiteral("Satellites  2 : 2 : 1 : 1"));
    ASSERT_EQ(l[kListGps].size(), 2u);
    EXPECT_EQ(l[kListGps][0][0], QStringLiteral("05"));   // almanac known
    EXPECT_EQ(l[kListGps][1][0], QStringLiteral("12*"));  // no almanac yet
    EXPECT_EQ(l[kListGps][1][kColSs], QStringLiteral("52+"));
    EXPECT_EQ(l[kListGps][0][SatColumnIndex(kListGps, kColTc)], QStringLiteral(":05"));  // seconds, then minutes
    EXPECT_EQ(l[kListGps][1][SatColumnIndex(kListGps, kColTc)], QStringLiteral("2"));
    EXPECT_EQ(l[kListGlonass][0][SatColumnIndex(kListGlonass, kColTc)], QStringLiteral("inf"));
    ASSERT_EQ(l[kListGlonass].size(), 2u);
    EXPECT_EQ(l[kListGlonass][0][0], QStringLiteral("03"));
    EXPECT_EQ(l[kListGlonass][1][0], QStringLiteral("??"));
    EXPECT_EQ(l[kListGlonass][1][1], QStringLiteral("07"));
    EXPECT_EQ(l[kListGalileo][0][0], QStringLiteral("11"));
    EXPECT_EQ(l[kListSbas][0][0], QStringLiteral("124"));
    EXPECT_EQ(l[kListSbas][0][kColSs], QStringLiteral("56-"));

    // A new SI with fewer satellites drops the surplus rows; a row taken by another satellite starts empty.
    s.Decode(Frame("SI", Bytes({12})));
    ASSERT_EQ(l[kListGps].size(), 1u);
    EXPECT_EQ(l[kListGps][0][0], QStringLiteral("12*"));
    EXPECT_TRUE(l[kListGps][0][kColEl].isEmpty());
    EXPECT_TRUE(l[kListGlonass].empty());

    // A second DC in the same epoch marks nothing twice.
    s.Decode(Frame("EL", Bytes({45})));
    s.Decode(Frame("DC", Values<qint32>({-20000000})));
    s.Decode(Frame("DC", Values<qint32>({-20000000})));
    EXPECT_EQ(l[kListGps][0][kColEl], QStringLiteral("45+"));
}

TEST(ReceiverState, IgnoresMalformedAndDisagreeingMessages)
{
    CReceiverState s;
    s.Decode(Frame("SI", Bytes({5, 6})));
    // More values than satellites: only the known ones are used.
    s.Decode(Frame("EL", Bytes({10, 20, 30, 40, 50})));
    EXPECT_EQ(s.Snapshot().lists[kListGps][1][kColEl], QStringLiteral("20"));
    // Fewer values than satellites: the others keep their text.
    s.Decode(Frame("EL", Bytes({11})));
    EXPECT_EQ(s.Snapshot().lists[kListGps][1][kColEl], QStringLiteral("20"));
    const StatusSnapshot before = s.Snapshot();
    for (const QByteArray& bad :
         {QByteArray("PG01E\x01\x02"), QByteArray("PGXYZ"), QByteArray("DC"), Frame("PG", QByteArray(10, '\0')),
          Frame("TC", QByteArray(1, '\0')), Frame("DP", QByteArray(3, '\0')), QByteArray("~~004\x01\x02\x03")}) {
        s.Decode(bad);
    }
    EXPECT_EQ(s.Snapshot().position, before.position);
    EXPECT_EQ(s.Snapshot().pdop, before.pdop);
    EXPECT_EQ(s.Snapshot().time, before.time);
    EXPECT_EQ(s.Snapshot().lists, before.lists);
}

TEST(ReceiverState, ResetRestoresLabelsAndForgetsCounters)
{
    CReceiverState s;
    EXPECT_EQ(s.Snapshot().summary, QStringLiteral("Satellites  0 : 0 : 0"));
    EXPECT_EQ(s.Snapshot().solution, QStringLiteral("standalone"));
    EXPECT_EQ(s.Snapshot().eventA, QStringLiteral("EVENTA"));
    s.Decode(Frame("XA", QByteArray(9, '\0')));
    s.Decode(Frame("GA", Bytes({5}) + QByteArray(45, '\0')));
    s.Decode(Frame("SI", Bytes({5})));
    s.Decode(Pg(50, 14, 200, 1));
    // The texts a reset shows: with the view's reset in LiveViewTest; here what the data before must not leave.
    s.Reset();
    const StatusSnapshot& r = s.Snapshot();
    EXPECT_EQ(r.hdop, QStringLiteral("HDOP:"));
    EXPECT_TRUE(r.lists[kListGps].empty());
    EXPECT_FALSE(s.GpsAlmanac(5));
    s.Decode(Frame("XA", QByteArray(9, '\0')));
    EXPECT_EQ(s.Snapshot().eventA, QStringLiteral("Event A: 1"));
    // The rows come back from the last SI when the receiver does not repeat it.
    s.Decode(Frame("EL", Bytes({33})));
    ASSERT_EQ(s.Snapshot().lists[kListGps].size(), 1u);
    EXPECT_EQ(s.Snapshot().lists[kListGps][0][kColEl], QStringLiteral("33"));
    EXPECT_EQ(s.Snapshot().lists[kListGps][0][0], QStringLiteral("05*"));
}

}  // namespace
