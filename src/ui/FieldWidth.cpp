#include "ui/FieldWidth.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

void FitFieldToText(QLineEdit* field, const QString& longest)
{
    // What QLineEdit keeps around its text: its text margins, two pixels a side, the cursor, then the frame the
    // style draws.
    constexpr int kInnerMargin = 2;
    constexpr int kCursor = 1;
    const QFontMetrics metrics(field->font());
    const QMargins text = field->textMargins();
    const QSize inner(metrics.horizontalAdvance(longest) + text.left() + text.right() + 2 * kInnerMargin + kCursor,
                      metrics.height());
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = QRect(QPoint(), inner);
    option.lineWidth =
        field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const int width = field->style()->sizeFromContents(QStyle::CT_LineEdit, &option, inner, field).width();
    field->setMinimumWidth(std::max(field->minimumWidth(), width));
}
