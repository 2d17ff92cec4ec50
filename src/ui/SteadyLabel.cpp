#include "ui/SteadyLabel.h"

#include <QEvent>

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
