#include "tools/Texture.h"

#include <algorithm>
#include <cmath>

namespace texture {
namespace {

double hash2(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = seed;
    h ^= static_cast<std::uint32_t>(x) * 0x27d4eb2du;
    h = (h ^ (h >> 15)) * 0x85ebca6bu;
    h ^= static_cast<std::uint32_t>(y) * 0x165667b1u;
    h = (h ^ (h >> 13)) * 0xc2b2ae35u;
    h ^= h >> 16;
    return (h & 0xffffffu) / double(0xffffff);
}

double smooth(double t) { return t * t * (3.0 - 2.0 * t); }

} // namespace

double valueNoise(double x, double y, std::uint32_t seed)
{
    const int xi = static_cast<int>(std::floor(x));
    const int yi = static_cast<int>(std::floor(y));
    const double fx = smooth(x - xi);
    const double fy = smooth(y - yi);
    const double a = hash2(xi, yi, seed), b = hash2(xi + 1, yi, seed);
    const double c = hash2(xi, yi + 1, seed), d = hash2(xi + 1, yi + 1, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

double fbm(double x, double y, std::uint32_t seed)
{
    double sum = 0, amp = 0.5;
    for (int i = 0; i < 4; ++i) {
        sum += amp * valueNoise(x, y, seed + static_cast<std::uint32_t>(i) * 101u);
        x *= 2.0;
        y *= 2.0;
        amp *= 0.5;
    }
    return sum / 0.9375;
}

QColor mix(const QColor& a, const QColor& b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t),
                            static_cast<float>(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QColor scaled(const QColor& c, double f)
{
    return QColor::fromRgbF(static_cast<float>(std::clamp(c.redF() * f, 0.0, 1.0)),
                            static_cast<float>(std::clamp(c.greenF() * f, 0.0, 1.0)),
                            static_cast<float>(std::clamp(c.blueF() * f, 0.0, 1.0)), c.alphaF());
}

// --- wood ----------------------------------------------------------------------------------

QColor woodAt(double x, double y, const WoodTone& tone)
{
    const double warp = 7.0 * fbm(x * 0.012, y * 0.035, tone.seed) + 2.5 * std::sin(x * 0.021 + y * 0.05);
    const double v = (y + warp * 2.2) / tone.ringSpacing;
    const double ring = v - std::floor(v);
    // Late wood: a narrow dark band at the end of each ring.
    const double late = std::exp(-std::pow((ring - 0.78) / 0.14, 2));
    const double pores = valueNoise(x * 0.08, y * 1.3, tone.seed + 7u);
    const double figure = fbm(x * 0.004, y * 0.02, tone.seed + 13u);
    double t = 0.15 + 0.55 * late + 0.18 * (pores - 0.5) + 0.35 * (figure - 0.5);
    return mix(tone.light, tone.dark, t);
}

void paintWood(QImage& img, const QRect& area, const WoodTone& tone, int scale)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            double r = 0, g = 0, b = 0;
            for (int sy = 0; sy < 3; ++sy)
                for (int sx = 0; sx < 3; ++sx) {
                    const QColor c = woodAt((x + (sx - 1) / 3.0) / scale, (y + (sy - 1) / 3.0) / scale, tone);
                    r += c.redF();
                    g += c.greenF();
                    b += c.blueF();
                }
            img.setPixelColor(x, y, QColor::fromRgbF(float(r / 9), float(g / 9), float(b / 9)));
        }
}

void bevel(QImage& img, const QRect& r, int width, double light, double shade)
{
    for (int i = 0; i < width; ++i) {
        const double fade = 1.0 - double(i) / width;
        const double up = 1.0 + light * fade;
        const double down = 1.0 - shade * fade;
        for (int x = r.left() + i; x <= r.right() - i; ++x) {
            img.setPixelColor(x, r.top() + i, scaled(img.pixelColor(x, r.top() + i), up));
            img.setPixelColor(x, r.bottom() - i, scaled(img.pixelColor(x, r.bottom() - i), down));
        }
        for (int y = r.top() + i + 1; y <= r.bottom() - i - 1; ++y) {
            img.setPixelColor(r.left() + i, y, scaled(img.pixelColor(r.left() + i, y), up));
            img.setPixelColor(r.right() - i, y, scaled(img.pixelColor(r.right() - i, y), down));
        }
    }
}

void shade(QImage& img, int scale, const std::function<double(double lx, double ly)>& factor)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const double lx = (x + 0.5) / scale - 0.5, ly = (y + 0.5) / scale - 0.5;
            img.setPixelColor(x, y, scaled(img.pixelColor(x, y), factor(lx, ly)));
        }
}

} // namespace texture
