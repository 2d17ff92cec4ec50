#include "ui/SteadyLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>

#include <cmath>

#include <algorithm>

namespace {

// Digits take the same room in the fonts a status line uses, so texts that differ only in digits measure alike.
QString DigitShape(const QString& text)
{
    QString shape = text;
    for (QChar& c : shape) {
        if (c.isDigit()) {
            c = QLatin1Char('0');
        }
    }
    return shape;
}

}  // namespace

CSteadyLabel::CSteadyLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

int CSteadyLabel::NeededWidth(const QString& text) const
{
    const QMargins m = contentsMargins();
    return fontMetrics().horizontalAdvance(text) + m.left() + m.right() + 2 * margin() + 2;
}

void CSteadyLabel::Reserve(const QString& widest)
{
    m_widest = widest;
    ensurePolished();  // the style may change font and margins
    FixSize();
}

void CSteadyLabel::FixSize()
{
    const QMargins m = contentsMargins();
    const int lineHeight = fontMetrics().height() + m.top() + m.bottom() + 2 * margin();
    setFixedSize(std::max(NeededWidth(m_widest), NeededWidth(text())), std::max(lineHeight, sizeHint().height()));
    m_measuredShape.clear();
}

void CSteadyLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        setMinimumSize(0, 0);  // measured afresh: a smaller font needs less room
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        FixSize();
    }
    OnChange(event->type());
}

void CSteadyLabel::WatchAncestors()
{
    for (const QPointer<QWidget>& w : std::as_const(m_watched)) {
        if (w) {
            w->removeEventFilter(this);
        }
    }
    m_watched.clear();
    for (QWidget* w = parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        w->installEventFilter(this);
        m_watched.append(w);
    }
}

bool CSteadyLabel::eventFilter(QObject* watched, QEvent* event)
{
    OnChange(event->type());
    return QLabel::eventFilter(watched, event);
}

void CSteadyLabel::OnChange(QEvent::Type type)
{
    switch (type) {
        case QEvent::ParentChange:
            WatchAncestors();
            ForgetBackground();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::FontChange:
        case QEvent::EnabledChange:
        case QEvent::ActivationChange:  // the palette's colour group changes with it
        case QEvent::LayoutDirectionChange:
            ForgetBackground();
            break;
        default:
            break;
    }
}

void CSteadyLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    ForgetBackground();
}

void CSteadyLabel::moveEvent(QMoveEvent* event)
{
    QLabel::moveEvent(event);
    ForgetBackground();
}

void CSteadyLabel::showEvent(QShowEvent* event)
{
    QLabel::showEvent(event);
    if (m_watched.isEmpty()) {
        WatchAncestors();
    }
    ForgetBackground();
}

void CSteadyLabel::ForgetBackground()
{
    if (!m_background.isNull()) {
        m_background = QPixmap();
        m_backgroundFill = QColor();
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        update();
    }
    if (!m_backgroundDue && isVisible()) {
        m_backgroundDue = true;
        QTimer::singleShot(0, this, &CSteadyLabel::DrawBackground);
    }
}

void CSteadyLabel::DrawBackground()
{
    m_backgroundDue = false;
    if (!isVisible() || width() <= 0 || height() <= 0) {
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(QSize(int(std::ceil(width() * ratio)), int(std::ceil(height() * ratio))));
    picture.setDevicePixelRatio(ratio);
    // Opaque from the start (the window's background covers it all), so that it is copied, not blended.
    picture.fill(palette().color(QPalette::Window));
    {
        // Each widget the label sits in paints its own part, outermost first, as the window's repaint does.
        QPainter painter(&picture);
        QList<QWidget*> chain;
        for (QWidget* w = parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget()) {
            chain.prepend(w);
        }
        for (QWidget* w : chain) {
            const QRect under(mapTo(w, QPoint(0, 0)), size());
            w->render(&painter, QPoint(0, 0), QRegion(under),
                      w->isWindow() ? QWidget::DrawWindowBackground : QWidget::RenderFlags());
        }
    }
    m_background = picture;
    // Most values sit on a plain colour: filling with it spares reading the picture at every paint.
    const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb first = image.pixel(0, 0);
    bool plain = true;
    for (int y = 0; y < image.height() && plain; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        plain = std::all_of(line, line + image.width(), [first](QRgb pixel) { return pixel == first; });
    }
    m_backgroundFill = plain ? QColor::fromRgb(first) : QColor();
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void CSteadyLabel::PaintBackground(QPainter& painter) const
{
    if (m_backgroundFill.isValid()) {
        painter.fillRect(rect(), m_backgroundFill);
    } else if (!m_background.isNull()) {
        painter.drawPixmap(0, 0, m_background);
    }
}

void CSteadyLabel::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        PaintBackground(painter);
    }
    QLabel::paintEvent(event);
}

void CSteadyLabel::SetText(const QString& text)
{
    if (QLabel::text() == text) {
        return;
    }
    QString shape = DigitShape(text);
    if (shape != m_measuredShape) {
        const int needed = NeededWidth(text);
        if (needed > minimumWidth()) {
            setFixedWidth(needed);
        }
        m_measuredShape = std::move(shape);
    }
    setText(text);
}

void CSteadyLabel::enterEvent(QEnterEvent* event)
{
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    QLabel::enterEvent(event);
}

void CSteadyLabel::leaveEvent(QEvent* event)
{
    if (!hasSelectedText()) {
        setTextInteractionFlags(Qt::NoTextInteraction);
    }
    QLabel::leaveEvent(event);
}

CTickingLabel::CTickingLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void CTickingLabel::SetText(const QString& text)
{
    if (text == QLabel::text()) {
        return;
    }
    QString shape = DigitShape(text);
    if (shape != m_shape) {
        // A new shape may take other room: the layout measures it.
        Release();
        m_shape = std::move(shape);
    } else if (!m_held && isVisible()) {
        // The layout has placed the last text (a window is laid out when shown, and a text ticks later).
        setFixedSize(sizeHint().width(), height());
        m_held = true;
    }
    setText(text);
}

void CTickingLabel::Release()
{
    if (m_held) {
        m_held = false;
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

void CTickingLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        Release();
        m_shape.clear();
    }
}
