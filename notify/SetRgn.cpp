#include "notify/SetRgn.h"

#include "platform/ScreenMetrics.h"

#include <QWidget>
#include <cmath>

namespace SetRgn {

int RoundHalfEven(double value)
{
    const double lower = std::floor(value);
    const double diff = value - lower;
    double rounded = lower;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0.0)) rounded = lower + 1.0;
    return static_cast<int>(rounded);
}

QPoint ClientOffsets(double outerWidthTwips, double outerHeightTwips, double twipsPerPixelX, double twipsPerPixelY,
                     int clientWidth, int clientHeight)
{
    const int left = RoundHalfEven((outerWidthTwips / twipsPerPixelX - clientWidth) / 2.0);
    const int top = RoundHalfEven(outerHeightTwips / twipsPerPixelY - clientHeight - left);
    return {left, top};
}

QRegion WindowRegion(const QList<QRect>& controls, QPoint offset)
{
    QRegion region;
    for (const QRect& r : controls) region += r.translated(offset);
    return region;
}

void ShapeWindow(QWidget& form)
{
    QList<QRect> rects;
    for (const QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) rects << child->geometry();
    if (rects.isEmpty()) {
        form.clearMask();
        return;
    }
    const QRect outer = form.frameGeometry();
    const QPoint offset =
        ClientOffsets(outer.width() * ScreenMetrics::TwipsPerPixelX(), outer.height() * ScreenMetrics::TwipsPerPixelY(),
                      ScreenMetrics::TwipsPerPixelX(), ScreenMetrics::TwipsPerPixelY(), form.width(), form.height());
    // The region is built in window coordinates; Qt applies a mask relative to the client
    // area, so it is handed over moved back by the frame offset.
    form.setMask(WindowRegion(rects, offset).translated(-offset));
}

void ApplyNotifyWindowFlags(QWidget& form, Activation activation)
{
    Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool;
    if (activation == Activation::Never) flags |= Qt::WindowDoesNotAcceptFocus;
    form.setWindowFlags(flags);
    form.setAttribute(Qt::WA_ShowWithoutActivating);
}

void MakeTopmost(QWidget& form)
{
    if (!form.windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        form.setWindowFlags(form.windowFlags() | Qt::WindowStaysOnTopHint);
    if (form.isVisible()) form.raise();
}

void SetActiveWindow(QWidget& form)
{
    form.raise();
    form.activateWindow();
}

} // namespace SetRgn
