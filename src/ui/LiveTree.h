#pragma once

#include <QTreeWidget>

class CCellPixmapDelegate;

// A list of values that change many times a second (the live view's satellite lists), looking exactly as a
// QTreeWidget does, at a fraction of the painting cost:
// - A cell's text is laid out, elided and drawn once; the picture is kept and drawn again while text, size, font,
//   colours and state stay the same (a satellite's values take few distinct texts).
// - A repaint of a few changed cells draws those cells only, not every column of their rows.
class CLiveTree : public QTreeWidget
{
    Q_OBJECT

public:
    explicit CLiveTree(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    CCellPixmapDelegate* m_delegate = nullptr;
};
