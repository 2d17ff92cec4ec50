#include "plots/SkyPlot.h"
#include "sim/MessageGenerator.h"
#include "support/FakeTime.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <utility>

#include <gtest/gtest.h>

namespace {

// A pixel within `reach` of `at` that passes `test`.
template <typename F>
bool Near(const QImage& image, QPointF at, int reach, F test)
{
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const QPoint p = at.toPoint() + QPoint(dx, dy);
            if (image.rect().contains(p) && test(image.pixel(p))) {
                return true;
            }
        }
    }
    return false;
}

QImage Draw(QSize size, const CSatTable& table, int mask, int signal = 0)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    CSkyPlot::Paint(p, size, table, mask, SatColours(), signal);
    return image;
}

// The highest row of the bar strip with a pixel of `colour`, or -1.
int BarTop(const QImage& image, QRect bars, const QColor& colour)
{
    for (int y = bars.top(); y <= bars.bottom(); ++y) {
        for (int x = bars.left(); x <= bars.right(); ++x) {
            if (QColor(image.pixel(x, y)) == colour) {
                return y;
            }
        }
    }
    return -1;
}

}  // namespace

class SkyPlotSizes : public ::testing::TestWithParam<QSize>
{
};

TEST_P(SkyPlotSizes, RoundHorizonSatelliteInPlaceAndBarsBelow)
{
    const QSize size = GetParam();
    const QTransform t = CSkyPlot::SkyTransform(size);
    EXPECT_DOUBLE_EQ(t.m11(), t.m22());  // round, not stretched to the window

    CSatTable table;
    for (SatEntry& e : table.entries) {  // every slot up, G10 at 30 degrees in the south-east, the rest low north
        e = SatEntry{0, 5, 0, {40, 0, 0, 0, 0}, 0, true};
    }
    table.entries[9] = SatEntry{0, 30, 135, {45, 0, 0, 0, 0}, 0, true};
    const QImage image = Draw(size, table, 0);
    const auto dark = [](QRgb p) { return qRed(p) + qGreen(p) + qBlue(p) < 3 * 170; };
    for (QPointF edge : {QPointF(0, -100), QPointF(100, 0), QPointF(0, 100), QPointF(-100, 0)}) {
        EXPECT_TRUE(Near(image, t.map(edge), 1, dark)) << edge.x() << "," << edge.y();
    }
    const double r = 100.0 * 60 / 90;
    const QPointF sat = t.map(QPointF(r * 0.70710678, r * 0.70710678));
    EXPECT_EQ(QColor(image.pixel(sat.toPoint())), SatColours()[9]);

    const QRect bars = CSkyPlot::BarArea(size);
    EXPECT_GT(bars.top(), t.map(QPointF(0, 100)).y() + 10);  // the "S" and the bars keep apart
    // A bar for every slot fits: the last SBAS one is drawn inside the window, at its bottom right.
    const QRect right(bars.right() - bars.width() / 10, bars.top(), bars.width() / 10, bars.height());
    EXPECT_NE(BarTop(image, right, SatColours()[satslot::kCount - 1]), -1);
}

INSTANTIATE_TEST_SUITE_P(Screens, SkyPlotSizes, ::testing::Values(QSize(480, 640), QSize(1280, 900)));

TEST(SkyPlot, MaskRingOnlyBetweenTheLimits)
{
    const QSize size(480, 640);
    const QPointF at = CSkyPlot::SkyTransform(size).map(QPointF(0, -100.0 * (90 - 30) / 90));
    const auto red = [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 120 && qBlue(p) < 120; };
    EXPECT_TRUE(Near(Draw(size, CSatTable(), 30), at, 2, red));
    EXPECT_FALSE(Near(Draw(size, CSatTable(), 0), at, 2, red) || Near(Draw(size, CSatTable(), 90), at, 2, red));
}

// G5 is used in the solution, E11 only tracked (status 24); their L5 readings differ from their C/A ones.
TEST(SkyPlot, UsedFilledTrackedHollowBarsOfTheChosenSignal)
{
    const QSize size(480, 640);
    const int g5 = satslot::ForGps(5), e11 = satslot::ForGalileo(11);
    CSatTable table;
    table.entries[size_t(g5)] = SatEntry{0, 45, 90, {40, 0, 0, 0, 20}, 0, true};
    table.entries[size_t(e11)] = SatEntry{0, 45, 270, {40, 0, 0, 0, 50}, 24, true};
    const auto colours = SatColours();
    const QTransform t = CSkyPlot::SkyTransform(size);
    const QRect bars = CSkyPlot::BarArea(size);
    const double unit = bars.height() / CSkyPlot::kBarStrip;  // pixels per C/N0 dB-Hz of a bar

    const QImage ca = Draw(size, table, 0, 0);
    const QPointF used = t.map(CSkyPlot::SkyPoint(45, 90));
    const QPointF tracked = t.map(CSkyPlot::SkyPoint(45, 270));
    EXPECT_EQ(QColor(ca.pixel(used.toPoint())), colours[size_t(g5)]);
    EXPECT_EQ(QColor(ca.pixel(tracked.toPoint())), QColor(Qt::white));
    const auto e11Ink = [&](QRgb p) { return QColor(p) == colours[size_t(e11)]; };
    EXPECT_TRUE(Near(ca, t.map(CSkyPlot::SkyPoint(45, 270) + QPointF(CSkyPlot::kSquare / 2 - 0.6, 0)), 1, e11Ink));

    const QImage l5 = Draw(size, table, 0, 4);
    // G5's bar falls by 20 dB-Hz, E11's (hatched) rises by 10.
    EXPECT_NEAR(BarTop(l5, bars, colours[size_t(g5)]) - BarTop(ca, bars, colours[size_t(g5)]), 20 * unit, 2);
    EXPECT_NEAR(BarTop(ca, bars, colours[size_t(e11)]) - BarTop(l5, bars, colours[size_t(e11)]), 10 * unit, 8);
    // P1: neither has a reading, so neither has a bar.
    const QImage p1 = Draw(size, table, 0, 1);
    EXPECT_EQ(BarTop(p1, bars, colours[size_t(g5)]), -1);
    EXPECT_EQ(BarTop(p1, bars, colours[size_t(e11)]), -1);
}

// Bars are labelled as the squares are ("S120": a number alone does not say whose satellite it is), in text of at
// least 8 pixels: across while it fits the bars, all upright under the narrow bars of a full sky (33 satellites).
TEST(SkyPlot, BarLabelsNameTheSystemAndStayReadableOnAHandheld)
{
    QStringList full;
    for (int slot = 0; slot < satslot::kCount; ++slot) {
        const int highest[] = {12, 8, 10, 122};
        if (satslot::Number(slot) <= highest[int(satslot::SystemOf(slot))]) {
            full << satslot::Label(slot);
        }
    }
    ASSERT_EQ(full.size(), 33);
    ASSERT_TRUE(full.contains(QStringLiteral("S120")));
    for (const QSize size : {QSize(476, 560), QSize(1280, 900)}) {
        const double scale = CSkyPlot::BarArea(size).height() / CSkyPlot::kBarStrip;
        const double narrow = (size.width() / scale - 2) / 33;
        for (const auto& [labels, slot] : {std::pair{QStringList{"G5", "E11"}, 19.0}, std::pair{full, narrow}}) {
            const CSkyPlot::BarLabelFit fit = CSkyPlot::FitBarLabels(scale, slot, labels);
            EXPECT_EQ(fit.rotated, labels.size() > 2);
            EXPECT_GE(fit.size * scale, 8 - 1e-9);
            QFont font;
            font.setPixelSize(int(std::lround(fit.size)));
            const QFontMetricsF metrics(font);
            // Upright: as long as the row under the 13 units of values and the 74 of bars, as thick as a slot.
            EXPECT_LE(fit.rotated ? metrics.height() : metrics.horizontalAdvance(QStringLiteral("E11")), slot);
            EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("S120")), fit.rotated ? CSkyPlot::kBarStrip - 87 : 1e9);
        }
    }
}

// Satellites that stand close together keep their labels apart: each goes to the first free side of its square,
// in a cluster stacked under or over it.
TEST(SkyPlot, LabelsOfSatellitesCloseTogetherGoWhereTheyDoNotCoverOthers)
{
    const QSizeF text(12, 8);
    const auto square = [](QPointF at) {
        return QRectF(at.x() - CSkyPlot::kSquare / 2, at.y() - CSkyPlot::kSquare / 2, CSkyPlot::kSquare,
                      CSkyPlot::kSquare);
    };
    const QPointF a(10, 10), b(11, 16);  // b's square sits right under a's
    std::vector<QRectF> taken = {square(a), square(b)};
    const QRectF la = CSkyPlot::PlaceLabel(a, text, taken);
    EXPECT_LT(la.bottom(), a.y()) << "under a lies b's square: above";
    taken.push_back(la);
    const QRectF lb = CSkyPlot::PlaceLabel(b, text, taken);
    EXPECT_GT(lb.top(), b.y()) << "under b is free";
    for (const QRectF& r : {la, lb}) {
        EXPECT_FALSE(r.intersects(square(a)) || r.intersects(square(b)));
    }
    EXPECT_FALSE(la.intersects(lb));
    // Six on one spot: four sides, then stacked under and over.
    std::vector<QRectF> cluster(6, square(a));
    for (int i = 0; i < 6; ++i) {
        const QRectF r = CSkyPlot::PlaceLabel(a, text, cluster);
        for (const QRectF& other : cluster) {
            EXPECT_FALSE(r.intersects(other)) << i;
        }
        cluster.push_back(r);
    }
    // Every side taken: under its square, as before.
    const QRectF everywhere(-100, -100, 200, 200);
    EXPECT_EQ(CSkyPlot::PlaceLabel(a, text, {everywhere}).top(), a.y() + CSkyPlot::kSquare / 2);
}

TEST(SkyPlot, TapShowsTheSatelliteUnderTheFinger)
{
    CFakeTickSource tick;
    auto model = std::make_shared<CSatModel>(tick);
    for (const QByteArray& frame : {TextFrame("GS", ",GPSVST,2,{5,60,90,{44},0},{6,0,90,{40},0},"),
                                    TextFrame("NS", ",GLSVST,1,{2,1,60,90,{41},0},")}) {
        model->OnMessage(frame.constData(), int(frame.size()));
    }
    CSkyPlot plot(model);
    plot.resize(480, 600);
    const QTransform t = CSkyPlot::SkyTransform(plot.size());
    const QPoint g5 = t.map(CSkyPlot::SkyPoint(60, 90)).toPoint();
    // G5 and R2 share the spot: the first slot wins; G6 at the horizon is not plotted.
    EXPECT_EQ(plot.HitTest(g5 + QPoint(3, -3)), 4);
    EXPECT_EQ(plot.HitTest(t.map(CSkyPlot::SkyPoint(0, 90)).toPoint()), -1);

    plot.show();
    QTest::mousePress(&plot, Qt::LeftButton, {}, g5);
    ASSERT_TRUE(plot.Popup()->isVisible());
    EXPECT_EQ(plot.Popup()->text(), QStringLiteral("el  az   ca p1 p2 l2c l5 ss\n60  90 44  0  0   0  0  0"));
    EXPECT_TRUE(plot.rect().contains(plot.Popup()->geometry()));
    QTest::mouseRelease(&plot, Qt::LeftButton, {}, g5);
    EXPECT_FALSE(plot.Popup()->isVisible());
}
