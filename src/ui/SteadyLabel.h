#pragma once

#include <QColor>
#include <QEvent>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QPointer>

// A label for values that change many times a second (the live view), showing them as a QLabel with selectable
// text would, at a fraction of the cost:
// - A QLabel whose size may change lays its whole window out again at every new text. A steady label has a fixed
//   size instead, so that a new value repaints the label alone. It grows when a text needs more room and never
//   shrinks, so that values alternating in width do not make the page jump.
// - Selectable text is drawn through a text document that is laid out again at every new value. A steady label
//   becomes selectable only while the mouse is over it or some of its text is selected.
// - A label is transparent, so a new value repaints everything beneath it too: a group box's frame and title, a
//   tab page's pane. A steady label keeps a picture of what lies beneath it, drawn by those widgets themselves,
//   and paints that instead (it is opaque while it has one). The picture is drawn again after the label or one
//   of the widgets it sits in moved, was resized or changed palette, style or font.
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
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int NeededWidth(const QString& text) const;
    void FixSize();
    // Drops the picture of the background (the label paints transparently again) and draws a new one soon, not
    // from inside a paint event.
    void ForgetBackground();
    void DrawBackground();
    void PaintBackground(QPainter& painter) const;
    // Watches the widgets the label sits in for changes that alter what lies beneath it.
    void WatchAncestors();
    // A change of the label or of a widget it sits in.
    void OnChange(QEvent::Type type);

    QString m_widest;
    // The last text measured with its digits as zeros: a text of the same shape needs no new measuring.
    QString m_measuredShape;
    QPixmap m_background;
    QColor m_backgroundFill;  // the picture's one colour, when it has only one
    bool m_backgroundDue = false;
    QList<QPointer<QWidget>> m_watched;
};

// A label placed by a layout whose text ticks (a clock in the status bar). A label's new text lays out its whole
// window again and repaints all of the layout's row, though a time takes the room of the last time: texts of one
// digit shape measure alike. After the first text of a shape the label holds the size the layout gave it (the
// width its size hint asks for, the height of its row) until the shape, the font or the style changes, so that
// the next texts repaint the label alone.
class CTickingLabel : public QLabel
{
    Q_OBJECT

public:
    explicit CTickingLabel(QWidget* parent = nullptr);

    void SetText(const QString& text);

protected:
    void changeEvent(QEvent* event) override;

private:
    void Release();

    QString m_shape;
    bool m_held = false;
};
