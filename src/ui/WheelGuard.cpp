#include "ui/WheelGuard.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QTabBar>
#include <QWidget>

CWheelGuard::CWheelGuard(QWidget* root) : QObject(root), m_root(root)
{
    for (QWidget* child : root->findChildren<QWidget*>()) {
        if (IsWheelControl(child)) {
            TakeWheelFocusAway(child);
        }
    }
    // Application-wide, so that controls a page creates later are caught on their first event.
    qApp->installEventFilter(this);
}

CWheelGuard::~CWheelGuard()
{
    qApp->removeEventFilter(this);
}

bool CWheelGuard::IsWheelControl(const QObject* widget)
{
    // A tab bar switches its tab on the wheel: an inner tab strip would change page under a scrolling wheel.
    return qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QTabBar*>(widget);
}

void CWheelGuard::TakeWheelFocusAway(QWidget* widget)
{
    if (widget->focusPolicy() == Qt::WheelFocus) {
        widget->setFocusPolicy(Qt::StrongFocus);
    }
}

bool CWheelGuard::Guards(const QObject* watched) const
{
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return widget && m_root && IsWheelControl(widget) && m_root->isAncestorOf(widget);
}

bool CWheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
        case QEvent::Polish:
        case QEvent::Show:
            if (Guards(watched)) {
                TakeWheelFocusAway(static_cast<QWidget*>(watched));
            }
            break;
        case QEvent::Wheel:
            if (Guards(watched) && !static_cast<QWidget*>(watched)->hasFocus()) {
                // Ignored and filtered: the application hands the wheel on to the parents, up to the scroll area.
                event->ignore();
                return true;
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}
