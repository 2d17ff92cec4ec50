#pragma once

#include "plots/SatTable.h"

#include <QImage>
#include <QTransform>
#include <QWidget>

#include <array>
#include <memory>

class QLabel;

// The sky plot with the signal bars under it. Everything is drawn in logical coordinates and the painter is
// scaled to the window, so the circles stay round and the labels keep their proportions on a 480x640 handheld
// and on a desktop alike: the sky has a horizon radius of 100 units, the bar strip is 100 units high.
class CSkyPlot : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kHorizon = 100;  // logical radius of the horizon circle
    static constexpr double kSquare = 5;     // logical side of a satellite's square

    explicit CSkyPlot(std::shared_ptr<CSatModel> model, QWidget* parent = nullptr);

    void SetElevationMask(int degrees) { m_mask = degrees; }
    int ElevationMask() const { return m_mask; }

    // The layout for a client area of `size`: sky logical coordinates to pixels, and the bar strip.
    static QTransform SkyTransform(QSize size);
    static QRect BarArea(QSize size);
    // Where a satellite stands on the sky, in logical coordinates (north up, east right).
    static QPointF SkyPoint(int elevation, int azimuth);
    // Draws the whole window content (the memory image of the double buffer, and tests).
    static void Paint(QPainter& painter, QSize size, const CSatTable& table, int mask,
                      const std::array<QColor, satslot::kCount>& colours);
    QImage Render(QSize size) const;

    // The first shown slot (0..60 in order) whose square is under the point in widget pixels, or -1.
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
    QLabel* m_popup = nullptr;
};
