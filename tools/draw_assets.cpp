// Draws the pictures of assets/ so that they can be regenerated and reviewed as code.
// Only shapes and a fixed hash are used (no fonts, no system randomness), so the output is
// the same on every run: fw_draw_assets <output folder>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace {

// --- deterministic noise ---------------------------------------------------------------

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

// Smooth value noise in [0, 1].
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

struct WoodTone {
    QColor light;
    QColor dark;
    double ringSpacing; // pixels between growth rings, across the grain
    std::uint32_t seed;
};

// Flat-sawn wood with the grain running horizontally: wavy growth rings plus fine pores.
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

// 3x3 supersampling keeps the ring edges free of stair steps.
void paintWood(QImage& img, const QRect& area, const WoodTone& tone)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            double r = 0, g = 0, b = 0;
            for (int sy = 0; sy < 3; ++sy)
                for (int sx = 0; sx < 3; ++sx) {
                    const QColor c = woodAt(x + (sx - 1) / 3.0, y + (sy - 1) / 3.0, tone);
                    r += c.redF();
                    g += c.greenF();
                    b += c.blueF();
                }
            img.setPixelColor(x, y, QColor::fromRgbF(float(r / 9), float(g / 9), float(b / 9)));
        }
}

// Raised bevel: light on the upper and left edges, shade on the lower and right ones.
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

// --- the pictures ----------------------------------------------------------------------------

const QColor kBoxRed(0xd5, 0x22, 0x1b);

// The postal mark 〒: two bars and a stem hanging from the lower one.
void drawPostalMark(QPainter& p, double cx, double top, double width, double stroke, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const double left = cx - width / 2;
    p.drawRect(QRectF(left, top, width, stroke));
    p.drawRect(QRectF(left, top + stroke * 2.2, width, stroke));
    const double stemW = stroke * 1.05;
    p.drawRect(QRectF(cx - stemW / 2, top + stroke * 2.2, stemW, width * 0.95));
}

QImage postBox()
{
    QImage img(38, 48, QImage::Format_ARGB32);
    // Body: a red cylinder lit from the upper left.
    for (int x = 0; x < img.width(); ++x) {
        const double u = (x + 0.5) / img.width();
        const double shade = 0.72 + 0.45 * std::exp(-std::pow((u - 0.3) / 0.28, 2)) - 0.18 * u;
        for (int y = 0; y < img.height(); ++y) img.setPixelColor(x, y, scaled(kBoxRed, shade));
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Roof: a darker cap with a bright rim, then its shadow on the body.
    QLinearGradient roof(0, 0, 38, 0);
    roof.setColorAt(0.0, QColor(0xb0, 0x18, 0x12));
    roof.setColorAt(0.3, QColor(0xe8, 0x3a, 0x30));
    roof.setColorAt(1.0, QColor(0x7a, 0x0e, 0x0a));
    p.fillRect(QRect(0, 0, 38, 5), roof);
    p.fillRect(QRect(0, 0, 38, 1), QColor(0xff, 0x7a, 0x6e));
    p.fillRect(QRect(0, 5, 38, 1), QColor(0x6a, 0x0a, 0x08));
    // Letter slot with a lip above it.
    p.fillRect(QRect(7, 10, 24, 1), QColor(0xff, 0x80, 0x74));
    p.fillRect(QRect(7, 11, 24, 4), QColor(0x0c, 0x0c, 0x0c));
    p.fillRect(QRect(7, 15, 24, 1), QColor(0x8c, 0x12, 0x0e));
    // Postal mark.
    drawPostalMark(p, 19.0, 20.0, 16.0, 2.6, Qt::white);
    // Plinth.
    p.fillRect(QRect(0, 44, 38, 4), QColor(0x8a, 0x10, 0x0c));
    p.fillRect(QRect(0, 44, 38, 1), QColor(0xf0, 0x50, 0x46));
    // Thin dark outline so the box stands out on light desktops.
    p.setPen(QPen(QColor(0x50, 0x06, 0x04), 1));
    p.setBrush(Qt::NoBrush);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawRect(QRect(0, 0, 37, 47));
    return img;
}

QImage post()
{
    QImage img(7, 18, QImage::Format_ARGB32);
    const QColor light(0xf2, 0x5a, 0x4e), dark(0x6e, 0x0c, 0x08);
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 18; ++y) img.setPixelColor(x, y, mix(light, dark, x / 6.0));
    return img;
}

QImage baseline()
{
    QImage img(36, 2, QImage::Format_ARGB32);
    img.fill(QColor(0xc0, 0x1c, 0x15));
    return img;
}

const WoodTone kDarkWood{QColor(0x5a, 0x36, 0x1e), QColor(0x24, 0x13, 0x09), 6.5, 17u};

// A dark wooden strip lit from its left end.
QImage strip(int width)
{
    QImage img(width, 25, QImage::Format_ARGB32);
    paintWood(img, img.rect(), kDarkWood);
    for (int x = 0; x < width; ++x) {
        const double glow = 1.0 + 1.1 * std::exp(-x / 28.0);
        for (int y = 0; y < 25; ++y) {
            const double curve = 1.0 - 0.25 * std::pow((y - 11.0) / 13.0, 2); // rounded profile
            img.setPixelColor(x, y, scaled(img.pixelColor(x, y), glow * curve));
        }
    }
    bevel(img, img.rect(), 2, 0.35, 0.45);
    return img;
}

QImage scrollButton()
{
    QImage img(26, 25, QImage::Format_ARGB32);
    const WoodTone tone{QColor(0x7a, 0x4c, 0x2a), QColor(0x3a, 0x20, 0x10), 5.0, 29u};
    paintWood(img, img.rect(), tone);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 26; ++x) {
            const double dome = 1.15 - 0.35 * (std::hypot(x - 10.0, y - 8.0) / 22.0);
            img.setPixelColor(x, y, scaled(img.pixelColor(x, y), dome));
        }
    bevel(img, img.rect(), 3, 0.5, 0.55);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    auto chevron = [&](double x0, const QColor& c, double dy) {
        QPainterPath path;
        path.moveTo(x0, 7.5 + dy);
        path.lineTo(x0 + 5.0, 12.5 + dy);
        path.lineTo(x0, 17.5 + dy);
        p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    // Drop shadow first, then the white arrows.
    chevron(8.0, QColor(0, 0, 0, 120), 1.0);
    chevron(13.0, QColor(0, 0, 0, 120), 1.0);
    chevron(7.5, Qt::white, 0.0);
    chevron(12.5, Qt::white, 0.0);
    return img;
}

// Dark slate so that the coloured account, time, sender and subject lines read well.
QImage card()
{
    QImage img(130, 50, QImage::Format_ARGB32);
    QPainter p(&img);
    QLinearGradient bg(0, 0, 0, 50);
    bg.setColorAt(0.0, QColor(0x2c, 0x37, 0x46));
    bg.setColorAt(0.35, QColor(0x1c, 0x25, 0x31));
    bg.setColorAt(1.0, QColor(0x10, 0x16, 0x1e));
    p.fillRect(img.rect(), bg);
    // A faint sheen across the upper part.
    QLinearGradient sheen(0, 0, 130, 0);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 26));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(QRect(0, 0, 130, 15), sheen);
    // Thin rule between the account line and the mail lines.
    p.fillRect(QRect(16, 15, 110, 1), QColor(255, 255, 255, 30));
    // Badge behind the running number: the post box's red.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient badge(0, 3, 0, 15);
    badge.setColorAt(0.0, QColor(0xe0, 0x3a, 0x30));
    badge.setColorAt(1.0, QColor(0x96, 0x14, 0x0e));
    p.setBrush(badge);
    p.drawRoundedRect(QRectF(1.5, 3.0, 14.0, 12.0), 3.0, 3.0);
    // Red edge on the left, like the spine of an envelope stack.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(0, 17, 2, 33), QColor(0xb0, 0x1c, 0x15));
    // Border: lit top and left, dark bottom and right.
    p.fillRect(QRect(0, 0, 130, 1), QColor(0x5c, 0x6c, 0x80));
    p.fillRect(QRect(0, 0, 1, 17), QColor(0x4a, 0x58, 0x6a));
    p.fillRect(QRect(0, 49, 130, 1), QColor(0x05, 0x08, 0x0c));
    p.fillRect(QRect(129, 0, 1, 50), QColor(0x05, 0x08, 0x0c));
    return img;
}

// The detail window's background: a warm wood panel with a raised bevelled frame and a
// sunken field inside it.
QImage woodPanel()
{
    QImage img(330, 311, QImage::Format_ARGB32);
    const WoodTone tone{QColor(0x8a, 0x58, 0x30), QColor(0x3e, 0x22, 0x0f), 11.0, 5u};
    paintWood(img, img.rect(), tone);
    // Darken gently towards the edges so the text in the middle stands out.
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const double dx = (x - 165.0) / 165.0, dy = (y - 155.0) / 155.0;
            const double vignette = 1.0 - 0.22 * std::pow(std::max(std::abs(dx), std::abs(dy)), 3);
            img.setPixelColor(x, y, scaled(img.pixelColor(x, y), 0.82 * vignette));
        }
    bevel(img, img.rect(), 6, 0.45, 0.55);
    // Sunken inner line: a shadow groove with a highlight below and right of it.
    const QRect groove = img.rect().adjusted(8, 8, -9, -9);
    bevel(img, groove, 1, -0.35, -0.25);
    return img;
}

// A small post box on a transparent ground for the notification area.
QImage trayIcon()
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(5.5, 1.5, 21.0, 25.0), 5.0, 5.0);
    QLinearGradient g(5, 0, 27, 0);
    g.setColorAt(0.0, QColor(0xc2, 0x1a, 0x14));
    g.setColorAt(0.3, QColor(0xf0, 0x44, 0x38));
    g.setColorAt(1.0, QColor(0x84, 0x0e, 0x0a));
    p.setPen(QPen(QColor(0x4a, 0x05, 0x03), 1.0));
    p.setBrush(g);
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x10, 0x10));
    p.drawRoundedRect(QRectF(9.0, 6.0, 14.0, 3.0), 1.0, 1.0);
    drawPostalMark(p, 16.0, 12.0, 11.0, 2.0, Qt::white);
    // Post and foot.
    p.setBrush(QColor(0xa0, 0x14, 0x0e));
    p.setPen(QPen(QColor(0x4a, 0x05, 0x03), 1.0));
    p.drawRect(QRectF(13.5, 26.5, 5.0, 3.0));
    p.drawRoundedRect(QRectF(8.5, 29.0, 15.0, 2.5), 1.0, 1.0);
    return img;
}

bool save(const QImage& img, const QDir& dir, const char* name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    // Fixed compression and no text chunks keep the files byte-for-byte reproducible.
    if (!img.convertToFormat(QImage::Format_ARGB32).save(path, "PNG", 9)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists()) {
        std::fprintf(stderr, "no such folder: %s\n", argv[1]);
        return 2;
    }
    const struct {
        const char* name;
        std::function<QImage()> draw;
    } pictures[] = {
        {"postbox.png", postBox},
        {"post.png", post},
        {"baseline.png", baseline},
        {"strip_header.png", [] { return strip(130); }},
        {"strip_footer.png", [] { return strip(90); }},
        {"scroll_button.png", scrollButton},
        {"card.png", card},
        {"wood_panel.png", woodPanel},
        {"tray_icon.png", trayIcon},
    };
    bool ok = true;
    for (const auto& pic : pictures) ok = save(pic.draw(), dir, pic.name) && ok;
    return ok ? 0 : 1;
}
