#pragma once
// The surfaces the pictures are made of: a fixed-hash noise, colour mixing, wood grain and a
// raised bevel. Deterministic, so the pictures come out the same on every run.
#include <QColor>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <functional>

namespace texture {

// Smooth value noise in [0, 1], and four octaves of it.
double valueNoise(double x, double y, std::uint32_t seed);
double fbm(double x, double y, std::uint32_t seed);

QColor mix(const QColor& a, const QColor& b, double t);
QColor scaled(const QColor& c, double f);

struct WoodTone {
    QColor light;
    QColor dark;
    double ringSpacing; // pixels between growth rings, across the grain
    std::uint32_t seed;
};

// Flat-sawn wood with the grain running horizontally: wavy growth rings plus fine pores.
QColor woodAt(double x, double y, const WoodTone& tone);
// 3x3 supersampling keeps the ring edges free of stair steps. `scale` pixels make one
// pixel of the 1x picture, so a 2x picture shows the same grain, only finer.
void paintWood(QImage& img, const QRect& area, const WoodTone& tone, int scale = 1);
// Raised bevel: light on the upper and left edges, shade on the lower and right ones.
void bevel(QImage& img, const QRect& r, int width, double light, double shade);
// Scales every pixel by factor(lx, ly), where lx, ly is the pixel's centre in pixels of the
// 1x picture (`scale` pixels make one).
void shade(QImage& img, int scale, const std::function<double(double lx, double ly)>& factor);

} // namespace texture
