#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>

// Window lengths are designed in twips (1/1440 inch). They are converted once, per axis,
// with the primary screen's logical DPI: 15 twips per pixel at 96 dpi.
namespace ScreenMetrics {

double TwipsPerPixelX();
double TwipsPerPixelY();

int TwipsToPixelsX(double twips);
int TwipsToPixelsY(double twips);
QRect TwipsToPixels(double left, double top, double width, double height);

// The whole primary screen in twips (never the work area left free by a panel).
double ScreenWidthTwips();
double ScreenHeightTwips();

// Pixel position on the whole screen of a window corner given in twips from the screen origin.
QPoint ScreenPointFromTwips(double left, double top);

} // namespace ScreenMetrics
