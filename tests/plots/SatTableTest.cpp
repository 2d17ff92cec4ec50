#include "plots/SatTable.h"
#include "sim/MessageGenerator.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

QByteArray Gs(const QByteArray& text)
{
    return TextFrame("GS", ",GPSVST," + text);
}

QByteArray Ns(const QByteArray& text)
{
    return TextFrame("NS", ",GLSVST," + text);
}

SatParse Apply(CSatTable& table, const QByteArray& frame)
{
    return table.Apply(frame.constData(), int(frame.size()));
}

std::vector<int> Visible(const CSatTable& table)
{
    std::vector<int> v;
    for (int i = 0; i < satslot::kCount; ++i) {
        if (table.entries[size_t(i)].visible) {
            v.push_back(i);
        }
    }
    return v;
}

}  // namespace

TEST(SatTable, ReadsGpsAndGlonassEntries)
{
    CSatTable table;
    EXPECT_EQ(Apply(table, Gs("2,{5,45,120,{44,38,0,1,70},0},{12,10,359,{30},22},")), SatParse::Gps);
    EXPECT_EQ(Apply(table, Ns("1,{3,-5,60,200,{41,0,37,0,0},0},")), SatParse::Glonass);
    EXPECT_EQ(Visible(table), (std::vector<int>{4, 11, 39}));
    const SatEntry& g5 = table.entries[4];
    EXPECT_EQ(g5.elevation, 45);
    EXPECT_EQ(g5.azimuth, 120);
    // p2 reading 1 counts as absent; the further signals keep what they say.
    EXPECT_EQ(g5.cn0, (std::array<int, 5>{44, 38, 0, 1, 70}));
    EXPECT_EQ(table.entries[11].cn0, (std::array<int, 5>{30, 0, 0, 0, 0}));
    EXPECT_EQ(table.entries[11].status, 22);
    const SatEntry& r3 = table.entries[39];
    EXPECT_EQ(r3.frequency, -5);
    EXPECT_EQ(r3.elevation, 60);
    EXPECT_EQ(r3.azimuth, 200);
    EXPECT_EQ(satslot::Label(39), QStringLiteral("R3"));
    EXPECT_EQ(satslot::Label(4), QStringLiteral("G5"));
}

TEST(SatTable, EachSystemReplacesOnlyItsOwnSatellites)
{
    CSatTable table;
    Apply(table, Gs("3,{1,10,10,{40},0},{2,20,20,{40},0},{3,30,30,{40},0},"));
    Apply(table, Ns("1,{1,1,40,40,{40},0},"));
    Apply(table, Gs("1,{2,21,21,{41},0},"));
    EXPECT_EQ(Visible(table), (std::vector<int>{1, 37}));
    Apply(table, Ns("0,{},"));
    EXPECT_EQ(Visible(table), (std::vector<int>{1}));
}

// Each text holds one bad entry between two good ones (GPS 7 and 9, or GLONASS 2 and 4): only the bad one is lost.
TEST(SatTable, SkipsEntriesOutOfRangeOrMalformed)
{
    struct Case
    {
        const char* bad;
        bool glonass;
    };
    const std::vector<Case> cases = {
        {"{38,40,40,{40},0}", false},           // a GPS number that would land in the first GLONASS slot
        {"{0,40,40,{40},0}", false},            // slot -1
        {"{25,1,40,40,{40},0}", true},          // slot 61
        {"{0,1,40,40,{40},0}", true},           // before the GLONASS slots
        {"{8,91,40,{40},0}", false},            // elevation above the zenith
        {"{8,-91,40,{40},0}", false},           // below the nadir
        {"{8,40,361,{40},0}", false},           // azimuth beyond a full turn
        {"{8,40,-1,{40},0}", false},            //
        {"{8,x40,40,{40},0}", false},           // not a number
        {"{8,0x28,40,{40},0}", false},          // hexadecimal
        {"{8, 40,40,{40},0}", false},           // blank
        {"{8,40,40,40,0,0,0,0,0}", false},      // signal braces missing
        {"{8,40,40,{40,0,0,0,0,0},0}", false},  // six signals
        {"{8,40,{40},0}", false},               // azimuth missing
        {"{8,40,40,{40},0,5}", false},          // a field after the status
        {"{8,40,40,{40},9999999}", false},      // a status too long for a number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bad);
        CSatTable table;
        const QByteArray good1 = c.glonass ? "{2,1,40,40,{40},0}" : "{7,40,40,{40},0}";
        const QByteArray good2 = c.glonass ? "{4,1,40,40,{40},0}" : "{9,40,40,{40},0}";
        const QByteArray text = "3," + good1 + ',' + QByteArray(c.bad) + ',' + good2 + ',';
        Apply(table, c.glonass ? Ns(text) : Gs(text));
        EXPECT_EQ(Visible(table), c.glonass ? (std::vector<int>{38, 40}) : (std::vector<int>{6, 8}));
    }
}

TEST(SatTable, BrokenFramesChangeNothing)
{
    CSatTable table;
    Apply(table, Gs("1,{5,45,120,{44},0},"));
    QByteArray wrongSum = Gs("1,{6,45,120,{44},0},");
    wrongSum[wrongSum.size() - 2] = wrongSum[wrongSum.size() - 2] == '0' ? '1' : '0';
    EXPECT_EQ(Apply(table, wrongSum), SatParse::BadFrame);
    QByteArray cut = Gs("1,{6,45,120,{44},0},");
    EXPECT_EQ(table.Apply(cut.constData(), int(cut.size()) - 8), SatParse::BadFrame);
    EXPECT_EQ(Apply(table, QByteArray("GS0zz,GPSVST,0,{},@00")), SatParse::BadFrame);
    EXPECT_EQ(Apply(table, TextFrame("GS", ",RTCMST,999,0000,0000,100.00,")), SatParse::Ignored);
    EXPECT_EQ(Apply(table, TextFrame("MS", ",GPSVST,1,{6,45,120,{44},0},")), SatParse::Ignored);
    EXPECT_EQ(Visible(table), std::vector<int>{4});
}

TEST(SatTable, UnclosedOrOverlongListsStopSafely)
{
    CSatTable table;
    // The last entry never closes: what came before it stands.
    Apply(table, Gs("2,{5,45,120,{44},0},{6,45,120,{44},0"));
    EXPECT_EQ(Visible(table), std::vector<int>{4});
    // More entries than GPS numbers: the surplus is skipped, never written past the GPS slots.
    QByteArray many = "40,";
    for (int i = 1; i <= 40; ++i) {
        many += "{" + QByteArray::number(i <= 37 ? i : 1) + ",40,40,{40},0},";
    }
    Apply(table, Gs(many));
    EXPECT_EQ(Visible(table).size(), 37u);
    EXPECT_FALSE(table.entries[37].visible);
}

TEST(SatTable, ColourWalk)
{
    const auto colours = SatColours();
    EXPECT_EQ(colours[0], QColor(0, 0, 127));
    EXPECT_EQ(colours[8], QColor(0, 0, 255));
    EXPECT_EQ(colours[9], QColor(0, 127, 127));   // the 10th GPS colour: the first on the second green level
    EXPECT_EQ(colours[36], QColor(0, 223, 127));  // the last GPS slot starts the fifth green level
    EXPECT_EQ(colours[37], QColor(127, 0, 0));
    EXPECT_EQ(colours[46], QColor(127, 127, 0));
    EXPECT_EQ(colours[55], QColor(127, 191, 0));
}

TEST(SatTable, PopupTexts)
{
    SatEntry e;
    e.elevation = 45;
    e.azimuth = 120;
    e.cn0 = {44, 38, 35, 0, 50};
    e.status = 3;
    EXPECT_EQ(SatPopupText(4, e), QStringLiteral("el  az   ca p1 p2 l2c l5 ss\n45 120 44 38 35   0 50  3"));
    EXPECT_EQ(SatPopupText(40, e), QStringLiteral("el  az   ca p1 p2 ca2 l3 ss\n45 120 44 38  35  0  50  3"));
}
