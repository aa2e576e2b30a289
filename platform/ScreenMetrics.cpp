#include "platform/ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace ScreenMetrics {
namespace {
constexpr double kTwipsPerInch = 1440.0;

QScreen* primary() { return QGuiApplication::primaryScreen(); }

double dpiX() { return primary() ? primary()->logicalDotsPerInchX() : 96.0; }
double dpiY() { return primary() ? primary()->logicalDotsPerInchY() : 96.0; }
} // namespace

double TwipsPerPixelX() { return kTwipsPerInch / dpiX(); }
double TwipsPerPixelY() { return kTwipsPerInch / dpiY(); }

int TwipsToPixelsX(double twips) { return static_cast<int>(std::lround(twips * dpiX() / kTwipsPerInch)); }
int TwipsToPixelsY(double twips) { return static_cast<int>(std::lround(twips * dpiY() / kTwipsPerInch)); }

QRect TwipsToPixels(double left, double top, double width, double height)
{
    return QRect(TwipsToPixelsX(left), TwipsToPixelsY(top), TwipsToPixelsX(width), TwipsToPixelsY(height));
}

double ScreenWidthTwips()
{
    const QScreen* s = primary();
    return s ? s->geometry().width() * TwipsPerPixelX() : 0.0;
}

double ScreenHeightTwips()
{
    const QScreen* s = primary();
    return s ? s->geometry().height() * TwipsPerPixelY() : 0.0;
}

QPoint ScreenPointFromTwips(double left, double top)
{
    const QScreen* s = primary();
    const QPoint origin = s ? s->geometry().topLeft() : QPoint();
    return origin + QPoint(TwipsToPixelsX(left), TwipsToPixelsY(top));
}

} // namespace ScreenMetrics
