#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// Keeps every window of the program whole on its screen: the window with its frame (title bar and borders) lies
// within the screen's available geometry. The frame is known only once the window manager has put one around the
// window, so a window is fitted when it is built, with the frame last seen on any window, and again once it is
// shown and whenever it moves or resizes out of the screen.

// Sizes `window` to `wanted` (its size hint when empty), bounded by the room its screen leaves, and keeps it there.
// A window whose layout needs more room than that must let its content scroll (a scroll area, a list, a text).
void FitToScreen(QWidget* window, QSize wanted = QSize());

// The available geometry of the window's screen, of the primary screen when the window has none yet.
QRect AvailableArea(const QWidget* window);
// The frame the window manager draws around `window`; the last one seen on any window while it has none yet.
QMargins FrameMargins(const QWidget* window);
// The largest client size a window can have with its frame within the available area.
QSize RoomFor(const QWidget* window);
// Whether the window, frame included, lies within the available area.
bool FitsScreen(const QWidget* window);
