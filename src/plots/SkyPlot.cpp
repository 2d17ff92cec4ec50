#include "plots/SkyPlot.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kSkyExtent = 115;  // logical half-size of the sky square: horizon plus the compass letters
constexpr double kBarTop = 13;      // values above, labels below the 74 units of the bars
constexpr double kBarHeight = 74;
constexpr double kLabelRow = CSkyPlot::kBarStrip - kBarTop - kBarHeight;
constexpr double kMinLabelPixels = 8;  // the smallest label text that stays readable on a handheld
constexpr int kLabelStack = 6;         // how far labels of a cluster of satellites stack up, in label heights
constexpr double kBarSlot = 19;        // logical width per bar when there is room

double Radius(int elevation)
{
    return CSkyPlot::kHorizon * (90 - elevation) / 90.0;
}

QFont PixelFont(double size)
{
    QFont font;
    font.setPixelSize(std::max(1, int(std::lround(size))));
    return font;
}

QPen Cosmetic(const QColor& colour, Qt::PenStyle style = Qt::SolidLine)
{
    QPen pen(colour, 0, style);
    pen.setCosmetic(true);
    return pen;
}

// `text` centred in `box`, in a font made smaller where the text would run into its neighbours (values over narrow
// bars).
void DrawFitted(QPainter& p, const QRectF& box, const QString& text)
{
    // Two digits leave a gap to the next bar's.
    const double size = std::min(9.0, box.width() * 0.55);
    QFont font = PixelFont(size);
    const double wide = QFontMetricsF(font).horizontalAdvance(text);
    if (wide > box.width()) {
        font.setPixelSize(std::max(1, int(size * box.width() / wide)));
    }
    p.setFont(font);
    p.drawText(box, Qt::AlignCenter, text);
}

// A bar's label under it (`box`), upright when `fit` says so, reading upwards from the bar's foot.
void DrawBarLabel(QPainter& p, const QRectF& box, const CSkyPlot::BarLabelFit& fit, const QString& text)
{
    p.setFont(PixelFont(fit.size));
    if (!fit.rotated) {
        p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, text);
        return;
    }
    p.save();
    p.translate(box.center().x(), box.top());
    p.rotate(-90);
    p.drawText(QRectF(-box.height(), -box.width() / 2, box.height(), box.width()), Qt::AlignRight | Qt::AlignVCenter,
               text);
    p.restore();
}

constexpr double kOutline = 1.2;  // logical width of a hollow square's border

// A satellite's square centred on `at`: filled when used in the solution, hollow when only tracked.
void DrawSquare(QPainter& p, QPointF at, const QColor& colour, bool used)
{
    const double side = CSkyPlot::kSquare;
    if (used) {
        p.fillRect(QRectF(at.x() - side / 2, at.y() - side / 2, side, side), colour);
        return;
    }
    const double inset = kOutline / 2;
    p.setPen(QPen(colour, kOutline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(at.x() - side / 2 + inset, at.y() - side / 2 + inset, side - kOutline, side - kOutline));
}

// In the corner left of "N", outside the horizon circle at every size.
void DrawLegend(QPainter& p)
{
    p.setFont(PixelFont(8));
    const QColor ink(64, 64, 64);
    const double x = -113;
    const struct
    {
        double y;
        bool used;
        const char* text;
    } rows[] = {{-109, true, "used"}, {-99, false, "tracked"}};
    for (const auto& row : rows) {
        DrawSquare(p, QPointF(x + CSkyPlot::kSquare / 2, row.y), ink, row.used);
        p.setPen(ink);
        p.drawText(QRectF(x + CSkyPlot::kSquare + 2, row.y - 5, 40, 10), Qt::AlignLeft | Qt::AlignVCenter,
                   QLatin1String(row.text));
    }
}

}  // namespace

CSkyPlot::BarLabelFit CSkyPlot::FitBarLabels(double scale, double slotWidth, const QStringList& labels)
{
    BarLabelFit fit;
    // As large as the sky's own labels, never below the readable size in pixels.
    fit.size = std::max(9.0, kMinLabelPixels / scale);
    const QFontMetricsF metrics(PixelFont(fit.size));
    double wide = 0;
    for (const QString& label : labels) {
        wide = std::max(wide, metrics.horizontalAdvance(label));
    }
    // All one way: a row of labels that turns from one bar to the next reads badly.
    fit.rotated = wide > slotWidth - 1;
    if (fit.rotated && wide > kLabelRow) {
        // Upright it runs down the row; a font this size still reads, the row's height is what is left to give.
        fit.size = std::max(kMinLabelPixels / scale, fit.size * kLabelRow / wide);
    }
    return fit;
}

CSkyPlot::CSkyPlot(std::shared_ptr<CSatModel> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)), m_colours(SatColours())
{
    setObjectName(QStringLiteral("skyPlot"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 240);
    m_popup = new QLabel(this);
    m_popup->setObjectName(QStringLiteral("satPopup"));
    m_popup->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_popup->setAutoFillBackground(true);
    m_popup->setStyleSheet(QStringLiteral("background: #ffffe0;"));
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_popup->setFont(mono);
    m_popup->hide();
}

QRect CSkyPlot::BarArea(QSize size)
{
    // As tall as before the labels got their row, plus that row.
    const int h = int(std::clamp(size.height() / 5, 90, 180) * kBarStrip / 100);
    return QRect(0, size.height() - h, size.width(), h);
}

QTransform CSkyPlot::SkyTransform(QSize size)
{
    const int skyHeight = BarArea(size).top();
    const double side = std::max(1, std::min(size.width(), skyHeight));
    QTransform t;
    t.translate(size.width() / 2.0, skyHeight / 2.0);
    t.scale(side / (2 * kSkyExtent), side / (2 * kSkyExtent));
    return t;
}

QPointF CSkyPlot::SkyPoint(int elevation, int azimuth)
{
    const double r = Radius(elevation);
    const double a = azimuth * std::numbers::pi / 180.0;
    return QPointF(r * std::sin(a), -r * std::cos(a));
}

void CSkyPlot::SetSignal(int signal)
{
    m_signal = std::clamp(signal, 0, satslot::kSignals - 1);
    update();
}

void CSkyPlot::Paint(QPainter& p, QSize size, const CSatTable& table, int mask,
                     const std::array<QColor, satslot::kCount>& colours, int signal)
{
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.save();
    p.setTransform(SkyTransform(size));
    p.setBrush(Qt::NoBrush);
    p.setPen(Cosmetic(QColor(136, 136, 136)));
    for (int e = 10; e <= 80; e += 10) {
        p.drawEllipse(QPointF(0, 0), Radius(e), Radius(e));
    }
    p.setPen(Cosmetic(Qt::black));
    p.drawEllipse(QPointF(0, 0), kHorizon, kHorizon);
    const double edge = kHorizon - 2;
    p.drawLine(QPointF(-edge, 0), QPointF(edge, 0));
    p.drawLine(QPointF(0, -edge), QPointF(0, edge));
    p.setFont(PixelFont(10));
    const auto letter = [&p](const char* text, QPointF centre) {
        p.drawText(QRectF(centre.x() - 8, centre.y() - 7, 16, 14), Qt::AlignCenter, QLatin1String(text));
    };
    letter("N", QPointF(0, -kHorizon - 8));
    letter("S", QPointF(0, kHorizon + 8));
    letter("W", QPointF(-kHorizon - 8, 0));
    letter("E", QPointF(kHorizon + 8, 0));
    if (mask > 0 && mask < 90) {
        p.setPen(Cosmetic(QColor(204, 0, 0), Qt::DotLine));
        p.drawEllipse(QPointF(0, 0), Radius(mask), Radius(mask));
    }
    DrawLegend(p);
    p.setFont(PixelFont(8));
    // Squares first, so that no label is placed over a square drawn later.
    std::vector<QRectF> taken;
    for (int slot = 0; slot < satslot::kCount; ++slot) {
        const SatEntry& e = table.entries[size_t(slot)];
        if (e.Shown()) {
            const QPointF at = SkyPoint(e.elevation, e.azimuth);
            DrawSquare(p, at, colours[size_t(slot)], e.Used());
            taken.emplace_back(at.x() - kSquare / 2, at.y() - kSquare / 2, kSquare, kSquare);
        }
    }
    const QFontMetricsF metrics(p.font());
    for (int slot = 0; slot < satslot::kCount; ++slot) {
        const SatEntry& e = table.entries[size_t(slot)];
        if (!e.Shown()) {
            continue;
        }
        const QString label = satslot::Label(slot);
        const QRectF box = PlaceLabel(SkyPoint(e.elevation, e.azimuth),
                                      QSizeF(metrics.horizontalAdvance(label), metrics.height()), taken);
        taken.push_back(box);
        p.setPen(colours[size_t(slot)]);
        p.drawText(box, Qt::AlignCenter, label);
    }
    p.restore();

    // The bars: one per plotted satellite with a reading of the chosen signal, narrowed (never dropped) when many
    // are up.
    const QRect area = BarArea(size);
    const double scale = area.height() / kBarStrip;
    const double logicalWidth = area.width() / scale;
    const auto barred = [signal](const SatEntry& e) { return e.Shown() && e.Level(signal) > 0; };
    QStringList labels;
    for (int slot = 0; slot < satslot::kCount; ++slot) {
        if (barred(table.entries[size_t(slot)])) {
            // As the squares are labelled: "1" alone would not say whose satellite it is.
            labels << satslot::Label(slot);
        }
    }
    const double slotWidth = std::min(kBarSlot, (logicalWidth - 2) / std::max<qsizetype>(labels.size(), 1));
    const BarLabelFit fit = FitBarLabels(scale, slotWidth, labels);
    p.save();
    // Upright rectangles gain nothing from smoothing, and narrow bars would lose their colour to it.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.translate(area.left(), area.top());
    p.scale(scale, scale);
    double x = 1;
    for (int slot = 0; slot < satslot::kCount; ++slot) {
        const SatEntry& e = table.entries[size_t(slot)];
        if (!barred(e)) {
            continue;
        }
        const int level = e.Level(signal);
        const double v = std::min(level, int(kBarHeight));
        const double w = slotWidth - 2;
        p.setPen(Cosmetic(Qt::black));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(x, kBarTop, w, kBarHeight));
        const QColor& colour = colours[size_t(slot)];
        p.fillRect(QRectF(x, kBarTop + kBarHeight - v, w, v),
                   e.Used() ? QBrush(colour) : QBrush(colour, Qt::BDiagPattern));
        DrawFitted(p, QRectF(x - 1, 0, slotWidth, kBarTop), QString::number(level));
        DrawBarLabel(p, QRectF(x - 1, kBarTop + kBarHeight, slotWidth, kLabelRow), fit, satslot::Label(slot));
        x += slotWidth;
    }
    p.restore();
}

QRectF CSkyPlot::PlaceLabel(QPointF at, QSizeF text, const std::vector<QRectF>& taken)
{
    const double w = text.width();
    const double h = text.height();
    const double gap = kSquare / 2;
    const QRectF below(at.x() - w / 2, at.y() + gap, w, h);
    const QRectF above(at.x() - w / 2, at.y() - gap - h, w, h);
    const auto free = [&](const QRectF& side) {
        // The own square is among `taken`; no side touches it.
        return std::none_of(taken.begin(), taken.end(), [&](const QRectF& t) { return t.intersects(side); });
    };
    for (const QRectF& side : {below, above, QRectF(at.x() + gap + 1, at.y() - h / 2, w, h),
                               QRectF(at.x() - gap - 1 - w, at.y() - h / 2, w, h)}) {
        if (free(side)) {
            return side;
        }
    }
    // A cluster: the labels stack up under it, then over it.
    for (int step = 1; step <= kLabelStack; ++step) {
        for (const QRectF& side : {below.translated(0, step * h), above.translated(0, -step * h)}) {
            if (free(side)) {
                return side;
            }
        }
    }
    return below;
}

QImage CSkyPlot::Render(QSize size) const
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    Paint(painter, size, m_model->Table(), m_mask, m_colours, m_signal);
    return image;
}

void CSkyPlot::paintEvent(QPaintEvent*)
{
    // Drawn whole into memory and copied at once, so a repaint in the middle of an epoch never flickers.
    const QImage image = Render(size());
    QPainter(this).drawImage(0, 0, image);
}

int CSkyPlot::HitTest(QPoint point) const
{
    bool invertible = false;
    const QPointF at = SkyTransform(size()).inverted(&invertible).map(QPointF(point));
    if (!invertible) {
        return -1;
    }
    // A little more than the square, so that a fingertip finds it.
    constexpr double kReach = kSquare / 2 + 3;
    const CSatTable table = m_model->Table();
    for (int slot = 0; slot < satslot::kCount; ++slot) {
        const SatEntry& e = table.entries[size_t(slot)];
        if (!e.Shown()) {
            continue;
        }
        const QPointF s = SkyPoint(e.elevation, e.azimuth);
        if (std::abs(at.x() - s.x()) <= kReach && std::abs(at.y() - s.y()) <= kReach) {
            return slot;
        }
    }
    return -1;
}

void CSkyPlot::mousePressEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    const int slot = HitTest(point);
    if (slot < 0) {
        return;
    }
    m_popup->setText(SatPopupText(slot, m_model->Table().entries[size_t(slot)]));
    m_popup->adjustSize();
    // Beside the finger, kept inside the window.
    const int x = std::clamp(point.x() + 12, 0, std::max(0, width() - m_popup->width()));
    const int y = std::clamp(point.y() + 12, 0, std::max(0, height() - m_popup->height()));
    m_popup->move(x, y);
    m_popup->show();
    m_popup->raise();
}

void CSkyPlot::mouseReleaseEvent(QMouseEvent*)
{
    m_popup->hide();
}
