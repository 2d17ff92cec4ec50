#include "plots/SkyPlot.h"
#include "sim/MessageGenerator.h"
#include "support/FakeTime.h"

#include <QLabel>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

bool IsDark(QRgb p)
{
    return qRed(p) + qGreen(p) + qBlue(p) < 3 * 170;  // a thin antialiased line is grey
}

// A pixel within `reach` of `at` that passes `test`.
template <typename F>
bool Near(const QImage& image, QPointF at, int reach, F test)
{
    const QPoint c = at.toPoint();
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const QPoint p = c + QPoint(dx, dy);
            if (image.rect().contains(p) && test(image.pixel(p))) {
                return true;
            }
        }
    }
    return false;
}

int CountPixels(const QImage& image, const QRect& area, QColor colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            n += image.pixel(x, y) == colour.rgb() ? 1 : 0;
        }
    }
    return n;
}

CSatTable OneSatellite(int slot, int el, int az, int ca)
{
    CSatTable t;
    SatEntry& e = t.entries[size_t(slot)];
    e.visible = true;
    e.elevation = el;
    e.azimuth = az;
    e.cn0[0] = ca;
    return t;
}

QImage Draw(QSize size, const CSatTable& table, int mask)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    CSkyPlot::Paint(p, size, table, mask, SatColours());
    return image;
}

}  // namespace

class SkyPlotSizes : public ::testing::TestWithParam<QSize>
{
};

TEST_P(SkyPlotSizes, HorizonRoundSatelliteInPlaceBarsBelow)
{
    const QSize size = GetParam();
    const QTransform t = CSkyPlot::SkyTransform(size);
    EXPECT_DOUBLE_EQ(t.m11(), t.m22());  // round, not stretched to the window

    const int slot = 9;  // G10
    const QImage image = Draw(size, OneSatellite(slot, 30, 135, 45), 0);
    const QColor colour = SatColours()[slot];
    for (QPointF edge : {QPointF(0, -100), QPointF(100, 0), QPointF(0, 100), QPointF(-100, 0)}) {
        EXPECT_TRUE(Near(image, t.map(edge), 1, IsDark)) << edge.x() << "," << edge.y();
    }
    // South-east at 30 degrees: two thirds of the horizon radius out from the centre.
    const double r = 100.0 * 60 / 90;
    const QPointF sat =
        t.map(QPointF(r * std::sin(135 * std::numbers::pi / 180), -r * std::cos(135 * std::numbers::pi / 180)));
    EXPECT_EQ(QColor(image.pixel(sat.toPoint())), colour);
    EXPECT_GT(sat.x(), size.width() / 2);

    const QRect bars = CSkyPlot::BarArea(size);
    EXPECT_GT(bars.top(), t.map(QPointF(0, 100)).y() + 10);  // the S letter and the bars keep apart
    EXPECT_GT(CountPixels(image, bars, colour), 20);
    EXPECT_EQ(CountPixels(image, QRect(0, 0, size.width(), bars.top()), colour) > 0, true);
}

TEST_P(SkyPlotSizes, SixtyOneBarsFitTheWidth)
{
    const QSize size = GetParam();
    CSatTable all;
    for (auto& e : all.entries) {
        e = OneSatellite(0, 20, 10, 50).entries[0];
    }
    const QImage image = Draw(size, all, 0);
    const QRect bars = CSkyPlot::BarArea(size);
    // The last GLONASS bar is drawn inside the window.
    EXPECT_GT(CountPixels(image, bars, SatColours()[60]), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, SkyPlotSizes, ::testing::Values(QSize(480, 640), QSize(1280, 900)));

TEST(SkyPlot, MaskRingOnlyBetweenTheLimits)
{
    const QSize size(480, 640);
    const auto redPixels = [&](int mask) {
        const QImage image = Draw(size, CSatTable(), mask);
        const QPointF at = CSkyPlot::SkyTransform(size).map(QPointF(0, -100.0 * (90 - 30) / 90));
        return Near(image, at, 2, [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 120 && qBlue(p) < 120; });
    };
    EXPECT_TRUE(redPixels(30));
    EXPECT_FALSE(redPixels(0));
    EXPECT_FALSE(redPixels(90));
}

TEST(SkyPlot, TapShowsTheSatelliteUnderTheFinger)
{
    CFakeTickSource tick;
    auto model = std::make_shared<CSatModel>(tick);
    const QByteArray gs = TextFrame("GS", ",GPSVST,2,{5,60,90,{44},0},{6,0,90,{40},0},");
    const QByteArray ns = TextFrame("NS", ",GLSVST,1,{2,1,60,90,{41},0},");
    model->OnMessage(gs.constData(), int(gs.size()));
    model->OnMessage(ns.constData(), int(ns.size()));
    CSkyPlot plot(model);
    plot.resize(480, 600);
    const QTransform t = CSkyPlot::SkyTransform(plot.size());
    const QPoint g5 = t.map(CSkyPlot::SkyPoint(60, 90)).toPoint();
    // G5 and R2 share the spot: the first slot wins; G6 at the horizon is not plotted.
    EXPECT_EQ(plot.HitTest(g5), 4);
    EXPECT_EQ(plot.HitTest(g5 + QPoint(3, -3)), 4);
    EXPECT_EQ(plot.HitTest(t.map(CSkyPlot::SkyPoint(0, 90)).toPoint()), -1);
    EXPECT_EQ(plot.HitTest(t.map(QPointF(0, 0)).toPoint()), -1);

    plot.show();
    QTest::mousePress(&plot, Qt::LeftButton, {}, g5);
    ASSERT_TRUE(plot.Popup()->isVisible());
    EXPECT_TRUE(plot.Popup()->text().startsWith(QStringLiteral("el  az   ca p1 p2 l2c l5 ss\n60  90 44")));
    EXPECT_TRUE(plot.rect().contains(plot.Popup()->geometry()));
    QTest::mouseRelease(&plot, Qt::LeftButton, {}, g5);
    EXPECT_FALSE(plot.Popup()->isVisible());
}
