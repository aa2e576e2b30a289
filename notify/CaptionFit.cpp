#include "notify/CaptionFit.h"

#include <QFontMetricsF>

#include <cmath>
#include <span>

namespace notify {
namespace {

QFontMetricsF metrics(const QFont& font, const QPaintDevice* device)
{
    return device ? QFontMetricsF(font, device) : QFontMetricsF(font);
}

// The fractional advance: the same figure the text layout uses to decide on an ellipsis.
// Rounding it would accept lines that are then cut when drawn.
qreal advance(const QString& text, const QFont& font, const QPaintDevice* device)
{
    return metrics(font, device).horizontalAdvance(text);
}

constexpr int kTextStretches[] = {96, 92, 88};
constexpr int kNumberStretches[] = {96, 92, 88, 84, 80};
// Numbers get smaller down to this share of the design size; below it they would not read.
constexpr qreal kSmallestShare = 0.5;
constexpr qreal kPointStep = 0.25;

} // namespace

CaptionFit FitCaption(const QString& caption, const QFont& font, qreal width, Overflow overflow,
                      const QPaintDevice* device)
{
    if (advance(caption, font, device) <= width) return {font, caption};
    QFont f = font;
    for (int stretch :
         overflow == Overflow::Elide ? std::span<const int>(kTextStretches) : std::span<const int>(kNumberStretches)) {
        f.setStretch(stretch);
        if (advance(caption, f, device) <= width) return {f, caption};
    }
    const qreal design = font.pointSizeF();
    if (overflow == Overflow::Shrink && design > 0) {
        // Start near the size that should fit and step down until it does.
        qreal size = std::floor(design * width / advance(caption, f, device) / kPointStep) * kPointStep;
        for (; size >= design * kSmallestShare; size -= kPointStep) {
            f.setPointSizeF(size);
            if (advance(caption, f, device) <= width) return {f, caption};
        }
    }
    // Too long to show whole: cut in the design font.
    return {font, metrics(font, device).elidedText(caption, Qt::ElideRight, width)};
}

} // namespace notify
