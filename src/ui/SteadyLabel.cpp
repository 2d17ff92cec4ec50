#include "ui/SteadyLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextLayout>
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

// One line of text laid out as QPainter::drawText lays out a label's single line (left to right, no wrapping).
struct Line
{
    QGlyphRun run;
    qreal width = 0;
    qreal advance = 0;
    qreal height = 0;
    bool ok = false;  // one run
};

Line LayOut(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setAlignment(Qt::AlignLeft);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    Line out;
    if (!line.isValid()) {
        layout.endLayout();
        return out;
    }
    line.setLineWidth(0x01000000);
    line.setPosition(QPointF(0, 0));
    const bool more = layout.createLine().isValid();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (more || runs.size() != 1) {
        return out;
    }
    out.run = runs[0];
    out.width = line.naturalTextWidth();
    out.advance = line.horizontalAdvance();
    out.height = line.ascent() + line.descent();  // unrounded, as drawText centres it
    out.ok = true;
    return out;
}

// Whether any two digits side by side take the room two zeros take: every ordered pair laid out in one line.
bool DigitsAlike(const QFont& font)
{
    QString pairs;
    for (int i = 0; i < 100; ++i) {
        pairs += QLatin1Char(char('0' + i / 10));
        pairs += QLatin1Char(char('0' + i % 10));
    }
    const Line line = LayOut(pairs, font);
    if (!line.ok || line.run.positions().size() != pairs.size()) {
        return false;
    }
    const QList<QPointF> at = line.run.positions();
    const qreal step = at[1].x() - at[0].x();
    for (qsizetype i = 1; i < at.size(); ++i) {
        if (at[i].y() != at[0].y() || at[i].x() - at[i - 1].x() != step) {
            return false;
        }
    }
    return true;
}

// A line QLabel draws through QPainter::drawText without any processing of its characters: printable Latin-1,
// which is laid out left to right without joining, and only ASCII digits among it.
bool PlainLatinLine(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u > 0xff || (c.isDigit() && (u < '0' || u > '9'))) {
            return false;
        }
    }
    return true;
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
    if (m_glyphs.Paint(this, [this](QPainter& painter) { PaintBackground(painter); })) {
        return;
    }
    {
        QPainter painter(this);
        PaintBackground(painter);
    }
    QLabel::paintEvent(event);
}

const CLabelGlyphs::ShapeGlyphs& CLabelGlyphs::GlyphsFor(const QString& shape, const QFont& font, int dpi)
{
    // The layouts depend on the font alone; QFont's equality leaves out the resolution they were made for.
    if (font != m_font || dpi != m_dpi) {
        m_shapes.clear();
        m_font = font;
        m_dpi = dpi;
        m_digitsAlike = DigitsAlike(font);
        m_newShapes = 0;
    }
    for (const ShapeGlyphs& known : m_shapes) {
        if (known.shape == shape) {
            m_newShapes = 0;
            return known;
        }
    }
    // Learning a shape costs ten layouts: a text that takes a new shape at every value is left to QLabel.
    static const ShapeGlyphs unusable;
    if (++m_newShapes > 4) {
        return unusable;
    }
    if (m_shapes.size() == 4) {  // values of a field take few shapes: a sign, one digit more
        m_shapes.erase(m_shapes.begin());
    }
    ShapeGlyphs& glyphs = m_shapes.emplace_back();
    glyphs.shape = shape;
    const Line zeros = LayOut(shape, font);
    glyphs.usable = zeros.ok && (m_digitsAlike || !shape.contains(QLatin1Char('0')));
    if (!glyphs.usable) {
        return glyphs;
    }
    glyphs.run = zeros.run;
    glyphs.width = zeros.width;
    glyphs.advance = zeros.advance;
    glyphs.height = zeros.height;
    // The same shape with each digit in every digit's place: the digits may be put into the zeros' layout only
    // when none of them moves a glyph or changes one of the other characters' glyphs. A font may join letters
    // ("ff" in "offset"), so the digits' places are found among the glyphs: those that differ between the zeros
    // and the ones, one per digit, in the text's order.
    const QList<quint32> base = zeros.run.glyphIndexes();
    const qsizetype digitCount = shape.count(QLatin1Char('0'));
    for (int d = 1; d <= 9 && glyphs.usable && digitCount > 0; ++d) {
        const Line line = LayOut(QString(shape).replace(QLatin1Char('0'), QChar(u'0' + d)), font);
        glyphs.usable = line.ok && line.run.positions() == zeros.run.positions() && line.width == zeros.width &&
                        line.advance == zeros.advance && line.height == zeros.height;
        const QList<quint32> indexes = glyphs.usable ? line.run.glyphIndexes() : QList<quint32>();
        std::vector<qsizetype> places;
        for (qsizetype i = 0; i < indexes.size() && glyphs.usable; ++i) {
            if (indexes[i] == base[i]) {
                continue;
            }
            places.push_back(i);
            glyphs.usable = indexes[i] == indexes[places.front()] && base[i] == base[places.front()];
        }
        if (d == 1) {
            glyphs.places = places;
            glyphs.usable = glyphs.usable && qsizetype(places.size()) == digitCount;
            glyphs.digits[0] = places.empty() ? 0 : base[places.front()];
        } else {
            glyphs.usable = glyphs.usable && places == glyphs.places;
        }
        glyphs.digits[size_t(d)] = places.empty() ? 0 : indexes[places.front()];
    }
    return glyphs;
}

bool CLabelGlyphs::Paint(QLabel* label, const std::function<void(QPainter&)>& background)
{
    // Where QLabel would draw anything else than one line through the style's drawItemText, or where that could
    // be a style's own, it draws.
    const QString shown = label->text();
    if ((label->textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard)) ||
        label->focusPolicy() != Qt::NoFocus || label->textFormat() != Qt::PlainText || label->wordWrap() ||
        !label->isEnabled() || label->indent() > 0 || label->frameWidth() != 0 || label->buddy() != nullptr ||
        qstrcmp(label->style()->metaObject()->className(), "QFusionStyle") != 0 || !PlainLatinLine(shown)) {
        return false;
    }
    QPainter painter(label);
    const auto drawBackground = [&] {
        if (background) {
            background(painter);
        }
    };
    if (shown.isEmpty()) {
        drawBackground();
        return true;
    }
    const ShapeGlyphs& glyphs = GlyphsFor(DigitShape(shown), painter.font(), label->logicalDpiY());
    const int m = label->margin();
    const QRectF r = label->contentsRect().adjusted(m, m, -m, -m);
    const Qt::Alignment align = QStyle::visualAlignment(Qt::LeftToRight, label->alignment());
    qreal top = 0;
    if (align & Qt::AlignBottom) {
        top = r.height() - glyphs.height;
    } else if (align & Qt::AlignVCenter) {
        top = (r.height() - glyphs.height) / 2;
    }
    const qreal spare = r.width() - glyphs.width;
    const qreal left = (align & Qt::AlignRight) ? spare : (align & Qt::AlignHCenter) ? spare / 2 : 0;
    // A text that does not fit is clipped by drawText: QLabel draws it.
    if (!glyphs.usable || !r.contains(QRectF(r.x() + left, r.y() + top, glyphs.width, glyphs.height))) {
        painter.end();
        return false;
    }
    drawBackground();
    QList<quint32> indexes = glyphs.run.glyphIndexes();
    auto place = glyphs.places.begin();
    for (const QChar c : shown) {
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9') {
            indexes[*place++] = glyphs.digits[size_t(u - '0')];
        }
    }
    QGlyphRun run = glyphs.run;
    run.setGlyphIndexes(indexes);
    QStyleOption option;
    option.initFrom(label);
    painter.setPen(QPen(option.palette.brush(label->foregroundRole()), painter.pen().widthF()));
    const qreal spareAdvance = r.width() - glyphs.advance;
    const qreal x = (align & Qt::AlignRight) ? spareAdvance : (align & Qt::AlignHCenter) ? spareAdvance / 2 : 0;
    painter.drawGlyphRun(QPointF(r.x() + x, r.y() + top), run);
    return true;
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

void CTickingLabel::paintEvent(QPaintEvent* event)
{
    if (!m_glyphs.Paint(this, {})) {
        QLabel::paintEvent(event);
    }
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
