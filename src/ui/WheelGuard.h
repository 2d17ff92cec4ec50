#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Keeps the mouse wheel for scrolling: a combo box, spin box or tab bar inside `root` takes the wheel only while
// it has the focus, and the wheel never gives it the focus. Otherwise the wheel goes on to the scroll area around it,
// so that scrolling a page never changes a value on the way. Covers controls added to `root` later too.
class CWheelGuard : public QObject
{
    Q_OBJECT

public:
    explicit CWheelGuard(QWidget* root);
    ~CWheelGuard() override;

    // Whether `widget` is a control whose value the wheel changes.
    static bool IsWheelControl(const QObject* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool Guards(const QObject* watched) const;
    static void TakeWheelFocusAway(QWidget* widget);

    QPointer<QWidget> m_root;
};
