#pragma once

#include <QLabel>

// A label for values that change many times a second (the live view), showing them as a QLabel with selectable
// text would, at a fraction of the cost:
// - A QLabel whose size may change lays its whole window out again at every new text. A steady label has a fixed
//   size instead, so that a new value repaints the label alone. It grows when a text needs more room and never
//   shrinks, so that values alternating in width do not make the page jump.
// - Selectable text is drawn through a text document that is laid out again at every new value. A steady label
//   becomes selectable only while the mouse is over it or some of its text is selected.
class CSteadyLabel : public QLabel
{
    Q_OBJECT

public:
    explicit CSteadyLabel(QWidget* parent = nullptr);

    // Fixes the size: one line, at least as wide as `widest` (the widest text expected) in the current font.
    void Reserve(const QString& widest);
    // An unchanged text costs nothing.
    void SetText(const QString& text);

protected:
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int NeededWidth(const QString& text) const;
    void FixSize();

    QString m_widest;
    // The last text measured with its digits as zeros: a text of the same shape needs no new measuring.
    QString m_measuredShape;
};
