#pragma once
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRegion>

class QWidget;

// Shaping and stacking of the notification windows: each is cut to the union of its controls'
// rectangles, has no frame, stays above ordinary windows and keeps out of the task bar.
namespace SetRgn {

// Nearest integer, a value exactly halfway going to the even one.
int RoundHalfEven(double value);

// Position of the client area inside the whole window, in pixels, from the window's outer size
// in twips and the client size in pixels. Both are 0 for a window without frame or title bar.
QPoint ClientOffsets(double outerWidthTwips, double outerHeightTwips, double twipsPerPixelX, double twipsPerPixelY,
                     int clientWidth, int clientHeight);

// The union of `controls` (client coordinates, pixels) moved by `offset`, in window coordinates.
// Empty when there are no controls.
QRegion WindowRegion(const QList<QRect>& controls, QPoint offset);

// Cuts `form` to the union of the rectangles of all its direct child widgets, hidden ones
// included. A form without children gets no mask, so the whole window shows.
void ShapeWindow(QWidget& form);

enum class Activation {
    OnRequest, // shows without taking the focus; SetActiveWindow may activate it
    Never,     // never takes the keyboard focus
};

// Frameless, always on top, no task-bar entry; never activated merely by being shown.
void ApplyNotifyWindowFlags(QWidget& form, Activation activation);

// Topmost placement: keeps position and size and lifts the window above all others.
void MakeTopmost(QWidget& form);

// Makes `form` the active window, the only way a notification window takes the focus.
void SetActiveWindow(QWidget& form);

} // namespace SetRgn
