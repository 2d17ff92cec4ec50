#pragma once

#include "plots/SatTable.h"

#include <QImage>
#include <QStringList>
#include <QTransform>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QLabel;

// The sky plot with the signal bars under it. Everything is drawn in logical coordinates and the painter is
// scaled to the window, so the circles stay round and the labels keep their proportions on a 480x640 handheld
// and on a desktop alike: the sky has a horizon radius of 100 units, the bar strip is 100 units high.
class CSkyPlot : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kHorizon = 100;   // logical radius of the horizon circle
    static constexpr double kSquare = 5;      // logical side of a satellite's square
    static constexpr double kBarStrip = 111;  // logical height of the bar strip: a unit is a dB-Hz of a bar

    explicit CSkyPlot(std::shared_ptr<CSatModel> model, QWidget* parent = nullptr);

    void SetElevationMask(int degrees) { m_mask = degrees; }
    int ElevationMask() const { return m_mask; }
    // Which C/N0 the bars show: 0 ca, 1 p1, 2 p2, 3 L2C (GLONASS ca2), 4 L5 (GLONASS l3).
    void SetSignal(int signal);
    int Signal() const { return m_signal; }

    // The layout for a client area of `size`: sky logical coordinates to pixels, and the bar strip.
    static QTransform SkyTransform(QSize size);
    static QRect BarArea(QSize size);
    // Where a satellite stands on the sky, in logical coordinates (north up, east right).
    static QPointF SkyPoint(int elevation, int azimuth);
    // Draws the whole window content (the memory image of the double buffer, and tests). Satellites used in the
    // solution are filled squares, those only tracked hollow ones (and hatched bars); a legend in the top left
    // corner says so.
    static void Paint(QPainter& painter, QSize size, const CSatTable& table, int mask,
                      const std::array<QColor, satslot::kCount>& colours, int signal = 0);
    QImage Render(QSize size) const;
    // Where a satellite's label of `text` size goes, in logical coordinates: centred under its square at `at`, or,
    // when that covers a label or square already placed (`taken`), above it, then right, then left of it; in a
    // cluster, stacked under or over it; under it when nothing is free.
    static QRectF PlaceLabel(QPointF at, QSizeF text, const std::vector<QRectF>& taken);

    // How the bars' labels are drawn: their font's logical pixel size, and upright when the widest would not fit
    // across a bar's slot. `scale` is pixels per logical unit of the bar strip.
    struct BarLabelFit
    {
        double size = 0;
        bool rotated = false;
    };
    static BarLabelFit FitBarLabels(double scale, double slotWidth, const QStringList& labels);

    // The first shown slot (in slot order) whose square is under the point in widget pixels, or -1.
    int HitTest(QPoint point) const;
    QLabel* Popup() const { return m_popup; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<CSatModel> m_model;
    std::array<QColor, satslot::kCount> m_colours;
    int m_mask = 0;
    int m_signal = 0;
    QLabel* m_popup = nullptr;
};
