#include "ui/ElidedLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

CElidedLabel::CElidedLabel(QWidget* parent) : CElidedLabel(QString(), parent) {}

CElidedLabel::CElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
}

QRect CElidedLabel::TextRect() const
{
    const int m = margin();
    return contentsRect().adjusted(m, m, -m, -m);
}

QString CElidedLabel::ShownText() const
{
    // Line breaks in a status text would make the label grow in height instead.
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideMiddle, TextRect().width());
}

QSize CElidedLabel::minimumSizeHint() const
{
    // Room for the ellipsis and a character on each side.
    const int width = fontMetrics().horizontalAdvance(QStringLiteral("W\u2026W"));
    return QSize(width + 2 * margin(), QLabel::minimumSizeHint().height());
}

bool CElidedLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (IsElided()) {
            QToolTip::showText(help->globalPos(), text(), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QLabel::event(event);
}

void CElidedLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, TextRect(), QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), ShownText(), foregroundRole());
}
