#include "ui/Waiter.h"

#include <QEventLoop>
#include <QTimer>

void CEventPumpWaiter::Wait(int ms)
{
    if (ms <= 0) {
        QEventLoop loop;
        loop.processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

CEventPumpWaiter& CEventPumpWaiter::Instance()
{
    static CEventPumpWaiter waiter;
    return waiter;
}
