#include "plots/SatTable.h"
#include "sim/MessageGenerator.h"
#include "sim/SimMessages.h"

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

// A per-satellite message with one byte per value ("SS" with its solution type after them).
QByteArray PerSat(const char id[2], std::initializer_list<int> values)
{
    QByteArray body;
    for (int v : values) {
        body += char(v);
    }
    if (QByteArray(id, 2) == "SS") {
        body += char(1);
    }
    return BinaryFrame(id, body);
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

TEST(SatTable, EachSystemReplacesOnlyItsOwnSatellites)
{
    CSatTable table;
    EXPECT_EQ(Apply(table, Gs("3,{5,45,120,{44,38,1,-1,70},0},{12,10,359,{30},22},{13,10,10,{61},0},")), SatParse::Gps);
    EXPECT_EQ(Apply(table, Ns("1,{3,-5,60,200,{41,0,37,0,0},0},")), SatParse::Glonass);
    EXPECT_EQ(Visible(table), (std::vector<int>{4, 11, 12, 39}));
    // p2 reading 1 and a C/A of 61 count as absent; the further signals keep what they say.
    EXPECT_EQ(table.entries[4].cn0, (std::array<int, 5>{44, 38, 0, -1, 70}));
    EXPECT_EQ(table.entries[11].cn0, (std::array<int, 5>{30, 0, 0, 0, 0}));
    EXPECT_FALSE(table.entries[12].Shown());
    const SatEntry& r3 = table.entries[39];
    EXPECT_EQ(std::vector<int>({r3.frequency, r3.elevation, r3.azimuth}), std::vector<int>({-5, 60, 200}));

    Apply(table, Gs("1,{12,11,1,{31},0},"));
    EXPECT_EQ(Visible(table), (std::vector<int>{11, 39}));
    Apply(table, Ns("0,{},"));
    EXPECT_EQ(Visible(table), std::vector<int>{11});
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

TEST(SatTable, GalileoAndSbasFromThePerSatelliteMessages)
{
    CSatTable table;
    Apply(table, PerSat("EL", {40}));  // before any "SI": nobody to give it to
    EXPECT_EQ(Visible(table), std::vector<int>{});

    const int e5 = satslot::ForGalileo(5), s120 = satslot::ForSbas(120), e49 = satslot::ForGalileo(49);
    const int e7 = satslot::ForGalileo(7), s142 = satslot::ForSbas(142);
    // GPS 3, GLONASS without channel (70), 0, 143 and 250 have no slot here: GPS and GLONASS come from the texts.
    ASSERT_EQ(Apply(table, PerSat("SI", {75, 120, 119, 3, 0, 70, 143, 250, 77, 142})), SatParse::Indices);
    EXPECT_EQ(Visible(table), (std::vector<int>{e5, e7, e49, s120, s142}));
    // E49's elevation of 91 and S120's azimuth of 400 degrees are skipped; E7's elevation is unknown (127).
    Apply(table, PerSat("EL", {40, 30, 91, 1, 1, 1, 1, 1, 127, 20}));
    Apply(table, PerSat("AZ", {45, 200, 10, 1, 1, 1, 1, 1, 10, 5}));
    Apply(table, PerSat("EC", {44, 40, 40, 1, 1, 1, 1, 1, 40, 38}));
    Apply(table, PerSat("E5", {50, 255, 1, 1, 1, 1, 1, 1, 1, 70}));
    Apply(table, PerSat("SS", {0, 0, 0, 0, 0, 0, 0, 0, 0, 24}));
    const auto shown = [&](int slot) { return table.entries[size_t(slot)].Shown(); };
    EXPECT_EQ(std::vector<bool>({shown(e5), shown(e7), shown(e49), shown(s120), shown(s142)}),
              std::vector<bool>({true, false, false, false, true}));
    const SatEntry& e = table.entries[size_t(e5)];
    EXPECT_EQ(std::vector<int>({e.elevation, e.azimuth, e.cn0[0], e.Level(4)}), std::vector<int>({40, 90, 44, 50}));
    EXPECT_TRUE(e.Used());
    EXPECT_EQ(SatPopupText(e5, e), QStringLiteral("el  az ca l5 ss\n40  90 44 50  0"));
    const SatEntry& s = table.entries[size_t(s142)];
    EXPECT_FALSE(s.Used());    // status 24: tracked, left out of the solution
    EXPECT_EQ(s.Level(4), 0);  // 70 dB-Hz is no reading
    EXPECT_EQ(table.entries[size_t(s120)].azimuth, -1);

    // A damaged value message changes nothing; a shorter one fills only the satellites it reaches.
    QByteArray damaged = PerSat("EL", {10, 10});
    damaged[damaged.size() - 2] = char(damaged[damaged.size() - 2] ^ 0x20);
    EXPECT_EQ(Apply(table, damaged), SatParse::BadFrame);
    Apply(table, PerSat("EL", {41}));
    EXPECT_EQ(table.entries[size_t(e5)].elevation, 41);
    EXPECT_EQ(table.entries[size_t(s142)].elevation, 20);

    // E5 leaves and comes back: its old values are gone. The GPS slots never change with "SI".
    Apply(table, Gs("1,{5,45,120,{44},0},"));
    Apply(table, PerSat("SI", {142}));
    EXPECT_EQ(Visible(table), (std::vector<int>{4, s142}));
    Apply(table, PerSat("SI", {75, 142}));
    EXPECT_FALSE(table.entries[size_t(e5)].Shown());
    EXPECT_EQ(table.entries[size_t(e5)].status, -1);
}

TEST(SatTable, BrokenFramesAndOverlongListsStaySafe)
{
    CSatTable table;
    Apply(table, Gs("1,{5,45,120,{44},0},"));
    QByteArray wrongSum = Gs("1,{6,45,120,{44},0},");
    wrongSum[wrongSum.size() - 2] = wrongSum[wrongSum.size() - 2] == '0' ? '1' : '0';
    EXPECT_EQ(Apply(table, wrongSum), SatParse::BadFrame);
    EXPECT_EQ(table.Apply(wrongSum.constData(), int(wrongSum.size()) - 8), SatParse::BadFrame);
    EXPECT_EQ(Apply(table, QByteArray("GS0zz,GPSVST,0,{},@00")), SatParse::BadFrame);
    EXPECT_EQ(Apply(table, TextFrame("MS", ",GPSVST,1,{6,45,120,{44},0},")), SatParse::Ignored);
    EXPECT_EQ(Visible(table), std::vector<int>{4});

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
}

TEST(SatTable, ColourWalk)
{
    const auto colours = SatColours();
    EXPECT_EQ(colours[8], QColor(0, 0, 255));
    EXPECT_EQ(colours[9], QColor(0, 127, 127));  // the 10th GPS colour: the first on the second green level
    EXPECT_EQ(colours[36], QColor(0, 223, 127));
    EXPECT_EQ(colours[37], QColor(127, 0, 0));
    EXPECT_EQ(colours[55], QColor(127, 191, 0));
}
