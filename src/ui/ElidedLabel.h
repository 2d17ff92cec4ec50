#pragma once

#include <QLabel>

// A one-line label for status lines and paths of any length. However long its text, it never widens its window:
// a text that does not fit is shown with its middle elided (both the start and the end of a path or a message
// say most), and its tooltip then holds the whole text. text() is always the whole text.
class CElidedLabel : public QLabel
{
public:
    explicit CElidedLabel(QWidget* parent = nullptr);
    explicit CElidedLabel(const QString& text, QWidget* parent = nullptr);

    // The text as it is drawn at the label's present width.
    QString ShownText() const;
    bool IsElided() const { return ShownText() != text(); }

    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect TextRect() const;
};
