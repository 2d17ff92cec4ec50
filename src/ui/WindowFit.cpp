#include "ui/WindowFit.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// The frame the window manager drew around the last window shown. It draws the same around the next one, whose
// own frame is unknown until it is on screen. GUI thread only.
QMargins g_lastFrame;

// How long after a window is shown its moves and resizes are still the window manager's placing it: until then a
// window pushed out of the screen is fitted again; later the user's own moves are left alone.
constexpr int kSettleMs = 1500;

// Fits its window and watches it while the window manager places it.
class CScreenFitter : public QObject
{
public:
    explicit CScreenFitter(QWidget* window) : QObject(window), m_window(window)
    {
        setObjectName(QStringLiteral("screenFitter"));
        window->installEventFilter(this);
    }

    void Fit(QSize wanted)
    {
        QWidget* w = m_window;
        const QRect area = AvailableArea(w);
        if (area.isEmpty()) {
            return;
        }
        const QMargins frame = FrameMargins(w);
        const QSize size = wanted.boundedTo(RoomFor(w)).expandedTo(w->minimumSize());
        // A window's position is that of its frame.
        QRect frameRect(w->isVisible() ? w->frameGeometry().topLeft() : w->pos(), size.grownBy(frame));
        // The bottom right corner first: a window larger than the screen keeps its title bar on it.
        if (frameRect.right() > area.right()) {
            frameRect.moveRight(area.right());
        }
        if (frameRect.bottom() > area.bottom()) {
            frameRect.moveBottom(area.bottom());
        }
        if (frameRect.left() < area.left()) {
            frameRect.moveLeft(area.left());
        }
        if (frameRect.top() < area.top()) {
            frameRect.moveTop(area.top());
        }
        // A window that cannot become small enough would otherwise be asked again at each of its moves.
        const QRect request(frameRect.topLeft(), size);
        if (request == m_lastRequest && w->isVisible() == m_lastVisible) {
            return;
        }
        m_lastRequest = request;
        m_lastVisible = w->isVisible();
        if (w->size() != size) {
            w->resize(size);
        }
        // A window not yet shown is placed by the window manager or, for a dialog, over its parent; both keep it
        // on the screen if it is small enough.
        if (w->isVisible() && w->pos() != frameRect.topLeft()) {
            w->move(frameRect.topLeft());
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window) {
            return false;
        }
        switch (event->type()) {
            case QEvent::Show:
                m_shown.start();
                Schedule();
                break;
            case QEvent::Move:
            case QEvent::Resize:
                if (m_shown.isValid() && m_shown.elapsed() < kSettleMs && m_window->isVisible() &&
                    !FitsScreen(m_window)) {
                    Schedule();
                }
                break;
            default:
                break;
        }
        return false;
    }

private:
    void Schedule()
    {
        if (m_scheduled) {
            return;
        }
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_scheduled = false;
            if (m_window->isVisible()) {
                Fit(m_window->size());
            }
        });
    }

    QWidget* m_window;
    QRect m_lastRequest;
    bool m_lastVisible = false;
    bool m_scheduled = false;
    QElapsedTimer m_shown;
};

}  // namespace

QRect AvailableArea(const QWidget* window)
{
    const QScreen* screen = window->window()->screen();
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen ? screen->availableGeometry() : QRect();
}

QMargins FrameMargins(const QWidget* window)
{
    const QWidget* top = window->window();
    if (const QWindow* handle = top->windowHandle(); handle && top->isVisible()) {
        if (const QMargins frame = handle->frameMargins(); !frame.isNull()) {
            g_lastFrame = frame;
            return frame;
        }
    }
    return g_lastFrame;
}

QSize RoomFor(const QWidget* window)
{
    return AvailableArea(window).size().shrunkBy(FrameMargins(window)).expandedTo(QSize(1, 1));
}

bool FitsScreen(const QWidget* window)
{
    const QWidget* top = window->window();
    const QRect frame(top->isVisible() ? top->frameGeometry().topLeft() : top->pos(),
                      top->size().grownBy(FrameMargins(top)));
    return AvailableArea(top).contains(frame);
}

void FitToScreen(QWidget* window, QSize wanted)
{
    auto* fitter = window->findChild<CScreenFitter*>(QStringLiteral("screenFitter"), Qt::FindDirectChildrenOnly);
    if (!fitter) {
        fitter = new CScreenFitter(window);
    }
    fitter->Fit(wanted.isValid() ? wanted : window->sizeHint());
}
