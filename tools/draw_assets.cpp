// Draws the pictures of assets/ so that they can be regenerated and reviewed as code.
// Only shapes and a fixed hash are used (no fonts, no system randomness), so the output is
// the same on every run: fw_draw_assets <output folder>
#include "tools/Texture.h"

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

using namespace texture;

// --- the pictures ----------------------------------------------------------------------------

const QColor kBoxRed(0xd5, 0x22, 0x1b);

// The postal mark 〒: two bars and a stem hanging from the lower one.
void drawPostalMark(QPainter& p, double cx, double top, double width, double stroke, const QColor& c, double gap = 2.2)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const double left = cx - width / 2;
    p.drawRect(QRectF(left, top, width, stroke));
    p.drawRect(QRectF(left, top + stroke * gap, width, stroke));
    const double stemW = stroke * 1.05;
    p.drawRect(QRectF(cx - stemW / 2, top + stroke * gap, stemW, width * 0.95));
}

// Every picture is drawn at `s` device pixels per pixel of its 1x size (1, or 2 for @2x).
QImage postBox(int s)
{
    QImage img(38 * s, 48 * s, QImage::Format_ARGB32);
    // Body: a red cylinder lit from the upper left.
    for (int x = 0; x < img.width(); ++x) {
        const double u = (x + 0.5) / img.width();
        const double shade = 0.72 + 0.45 * std::exp(-std::pow((u - 0.3) / 0.28, 2)) - 0.18 * u;
        for (int y = 0; y < img.height(); ++y) img.setPixelColor(x, y, scaled(kBoxRed, shade));
    }
    QPainter p(&img);
    p.scale(s, s);
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
    const QColor outline(0x50, 0x06, 0x04);
    const double w = 1.0 / s;
    p.fillRect(QRectF(0, 0, 38, w), outline);
    p.fillRect(QRectF(0, 48 - w, 38, w), outline);
    p.fillRect(QRectF(0, 0, w, 48), outline);
    p.fillRect(QRectF(38 - w, 0, w, 48), outline);
    return img;
}

QImage post(int s)
{
    QImage img(7 * s, 18 * s, QImage::Format_ARGB32);
    const QColor light(0xf2, 0x5a, 0x4e), dark(0x6e, 0x0c, 0x08);
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y) img.setPixelColor(x, y, mix(light, dark, x / double(img.width() - 1)));
    return img;
}

QImage baseline(int s)
{
    QImage img(36 * s, 2 * s, QImage::Format_ARGB32);
    img.fill(QColor(0xc0, 0x1c, 0x15));
    return img;
}

const WoodTone kDarkWood{QColor(0x5a, 0x36, 0x1e), QColor(0x24, 0x13, 0x09), 6.5, 17u};

// A dark wooden strip lit from its left end.
QImage strip(int width, int s)
{
    QImage img(width * s, 25 * s, QImage::Format_ARGB32);
    paintWood(img, img.rect(), kDarkWood, s);
    for (int x = 0; x < img.width(); ++x) {
        const double glow = 1.0 + 1.1 * std::exp(-(x + 0.5 - 0.5 * s) / s / 28.0);
        for (int y = 0; y < img.height(); ++y) {
            const double ly = (y + 0.5) / s - 0.5;
            const double curve = 1.0 - 0.25 * std::pow((ly - 11.0) / 13.0, 2); // rounded profile
            img.setPixelColor(x, y, scaled(img.pixelColor(x, y), glow * curve));
        }
    }
    bevel(img, img.rect(), 2 * s, 0.35, 0.45);
    return img;
}

QImage scrollButton(int s)
{
    QImage img(26 * s, 25 * s, QImage::Format_ARGB32);
    const WoodTone tone{QColor(0x7a, 0x4c, 0x2a), QColor(0x3a, 0x20, 0x10), 5.0, 29u};
    paintWood(img, img.rect(), tone, s);
    shade(img, s, [](double lx, double ly) { return 1.15 - 0.35 * (std::hypot(lx - 10.0, ly - 8.0) / 22.0); });
    bevel(img, img.rect(), 3 * s, 0.5, 0.55);
    QPainter p(&img);
    p.scale(s, s);
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
QImage card(int s)
{
    QImage img(130 * s, 50 * s, QImage::Format_ARGB32);
    QPainter p(&img);
    p.scale(s, s);
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
QImage woodPanel(int s)
{
    QImage img(330 * s, 311 * s, QImage::Format_ARGB32);
    const WoodTone tone{QColor(0x8a, 0x58, 0x30), QColor(0x3e, 0x22, 0x0f), 11.0, 5u};
    paintWood(img, img.rect(), tone, s);
    // Darken gently towards the edges so the text in the middle stands out.
    shade(img, s, [](double lx, double ly) {
        const double dx = (lx - 165.0) / 165.0, dy = (ly - 155.0) / 155.0;
        const double vignette = 1.0 - 0.22 * std::pow(std::max(std::abs(dx), std::abs(dy)), 3);
        return 0.82 * vignette;
    });
    bevel(img, img.rect(), 6 * s, 0.45, 0.55);
    // Sunken inner line: a shadow groove with a highlight below and right of it.
    const QRect groove = img.rect().adjusted(8 * s, 8 * s, -9 * s, -9 * s);
    bevel(img, groove, s, -0.35, -0.25);
    return img;
}

// A small post box on a transparent ground for the notification area.
QImage trayIcon(int s)
{
    QImage img(32 * s, 32 * s, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.scale(s, s);
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

// The tray icon with a warning sign in its lower right corner: something needs the user.
QImage trayIconWarning(int s)
{
    QImage img = trayIcon(s);
    QPainter p(&img);
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath sign;
    sign.moveTo(23.5, 15.5);
    sign.lineTo(31.0, 30.5);
    sign.lineTo(16.0, 30.5);
    sign.closeSubpath();
    // A dark rim keeps the sign apart from the red box beneath it.
    p.setPen(QPen(QColor(0x30, 0x24, 0x00), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xff, 0xc8, 0x1e));
    p.drawPath(sign);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x18, 0x00));
    p.drawRoundedRect(QRectF(22.6, 19.5, 1.8, 6.2), 0.8, 0.8);
    p.drawEllipse(QPointF(23.5, 28.0), 1.1, 1.1);
    return img;
}

// The launcher icon, drawn for each size rather than scaled: small sizes keep every edge on
// whole pixels and drop what would blur; large ones gain a roof, a letter and a shadow.
QImage appIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 32.0;
    const QColor rim(0x4a, 0x05, 0x03);
    if (size <= 24) {
        const int left = int(std::lround(5 * u)), right = size - left;
        const int top = int(std::lround(1 * u)), bottom = size - int(std::lround(4 * u));
        QLinearGradient g(left, 0, right, 0);
        g.setColorAt(0.0, QColor(0xd0, 0x20, 0x18));
        g.setColorAt(0.35, QColor(0xf0, 0x44, 0x38));
        g.setColorAt(1.0, QColor(0x90, 0x10, 0x0c));
        p.setPen(QPen(rim, 1.0));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(left + 0.5, top + 0.5, right - left - 1, bottom - top - 1), 3.0 * u, 3.0 * u);
        p.setRenderHint(QPainter::Antialiasing, false);
        const int stroke = std::max(1, int(std::lround(2 * u)));
        const int slotTop = top + std::max(2, int(std::lround(4 * u)));
        p.fillRect(QRect(left + 3, slotTop, right - left - 6, std::max(1, int(std::lround(2.5 * u)))),
                   QColor(0x10, 0x10, 0x10));
        // The postal mark: two bars and a stem, each a whole number of pixels.
        const int markTop = slotTop + std::max(3, int(std::lround(5 * u)));
        const int markLeft = left + 3, markWidth = right - left - 6;
        const int stemLeft = size / 2 - stroke / 2;
        p.fillRect(QRect(markLeft, markTop, markWidth, stroke), Qt::white);
        p.fillRect(QRect(markLeft, markTop + 2 * stroke, markWidth, stroke), Qt::white);
        p.fillRect(QRect(stemLeft, markTop + 2 * stroke, stroke, bottom - 2 - (markTop + 2 * stroke)), Qt::white);
        // Post and foot; the foot's lowest row is its rim.
        const int footHeight = std::max(2, int(std::lround(2.5 * u)));
        const int postWidth = std::max(2, int(std::lround(5 * u)));
        const QColor postRed(0xa0, 0x14, 0x0e);
        p.fillRect(QRect((size - postWidth) / 2, bottom, postWidth, size - footHeight - bottom), postRed);
        p.fillRect(QRect(left + 1, size - footHeight, right - left - 2, footHeight - 1), postRed);
        p.fillRect(QRect(left + 1, size - 1, right - left - 2, 1), rim);
        return img;
    }
    p.scale(u, u);
    if (size >= 48) {
        // A soft shadow on the ground.
        QRadialGradient shadow(QPointF(16, 30.6), 12);
        shadow.setColorAt(0.0, QColor(0, 0, 0, 90));
        shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(shadow);
        p.drawEllipse(QRectF(3, 28.6, 26, 3.2));
    }
    QPainterPath body;
    body.addRoundedRect(QRectF(5.5, 2.5, 21.0, 23.5), 4.5, 4.5);
    QLinearGradient g(5, 0, 27, 0);
    g.setColorAt(0.0, QColor(0xc2, 0x1a, 0x14));
    g.setColorAt(0.3, QColor(0xf4, 0x4a, 0x3e));
    g.setColorAt(1.0, QColor(0x80, 0x0d, 0x09));
    p.setPen(QPen(rim, 0.8));
    p.setBrush(g);
    p.drawPath(body);
    // Roof: a darker cap with a bright rim.
    QPainterPath roof;
    roof.addRoundedRect(QRectF(4.5, 1.0, 23.0, 4.0), 2.0, 2.0);
    QLinearGradient rg(4, 0, 28, 0);
    rg.setColorAt(0.0, QColor(0xa8, 0x16, 0x10));
    rg.setColorAt(0.3, QColor(0xe8, 0x3a, 0x30));
    rg.setColorAt(1.0, QColor(0x70, 0x0c, 0x08));
    p.setBrush(rg);
    p.drawPath(roof);
    // Slot with a letter half posted.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x10, 0x10));
    p.drawRoundedRect(QRectF(9.0, 7.5, 14.0, 2.6), 0.8, 0.8);
    if (size >= 48) {
        p.save();
        p.translate(16.0, 8.6);
        p.rotate(-8);
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 0.35));
        p.setBrush(QColor(0xfa, 0xfa, 0xf4));
        p.drawRect(QRectF(-5.0, -5.2, 10.0, 5.2));
        p.drawLine(QPointF(-5.0, -5.2), QPointF(0.0, -2.4));
        p.drawLine(QPointF(5.0, -5.2), QPointF(0.0, -2.4));
        p.restore();
        p.setBrush(QColor(0x10, 0x10, 0x10));
        p.drawRect(QRectF(9.0, 8.6, 14.0, 1.5));
    }
    // Bars two strokes apart stay on whole pixels at 32 and 64.
    drawPostalMark(p, 16.0, 13.0, 11.0, 2.0, Qt::white, 2.0);
    p.setBrush(QColor(0xa0, 0x14, 0x0e));
    p.setPen(QPen(rim, 0.8));
    p.drawRect(QRectF(13.5, 26.0, 5.0, 3.0));
    p.drawRoundedRect(QRectF(8.5, 28.5, 15.0, 2.5), 1.0, 1.0);
    return img;
}

bool save(const QImage& img, const QDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
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
    struct Picture {
        QString name;
        std::function<QImage(int)> draw; // at a given scale
    };
    const Picture pictures[] = {
        {QStringLiteral("postbox"), postBox},
        {QStringLiteral("post"), post},
        {QStringLiteral("baseline"), baseline},
        {QStringLiteral("strip_header"), [](int s) { return strip(130, s); }},
        {QStringLiteral("strip_footer"), [](int s) { return strip(90, s); }},
        {QStringLiteral("scroll_button"), scrollButton},
        {QStringLiteral("card"), card},
        {QStringLiteral("wood_panel"), woodPanel},
        {QStringLiteral("tray_icon"), trayIcon},
        {QStringLiteral("tray_icon_warning"), trayIconWarning},
    };
    bool ok = true;
    // Each picture at 1x and, for screens with a scale factor of 2, at 2x as name@2x.png.
    for (const Picture& pic : pictures) {
        ok = save(pic.draw(1), dir, pic.name + QStringLiteral(".png")) && ok;
        ok = save(pic.draw(2), dir, pic.name + QStringLiteral("@2x.png")) && ok;
    }
    // The launcher's icons for the hicolor theme.
    if (!dir.mkpath(QStringLiteral("icons"))) return 1;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        ok = save(appIcon(size), dir, QStringLiteral("icons/ferrowick-%1.png").arg(size)) && ok;
    return ok ? 0 : 1;
}
