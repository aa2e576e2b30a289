#pragma once
#include <QFont>
#include <QString>

class QPaintDevice;

namespace notify {

// How a one-line caption is drawn in a label of a fixed width. The design widths were made for
// narrower glyphs than the fallback fonts have, so a line slightly too wide is condensed a
// little first. What is left over is then either cut with an ellipsis (text lines) or drawn
// smaller (numbers and counts, which must never lose a digit).
enum class Overflow { Elide, Shrink };

struct CaptionFit {
    QFont font;
    QString text;
};

// One measure decides both the font and the text, with the metrics of `device` (the widget the
// caption is painted on; nullptr for the screen), so that a caption said to fit is drawn whole.
CaptionFit FitCaption(const QString& caption, const QFont& font, qreal width, Overflow overflow,
                      const QPaintDevice* device = nullptr);

} // namespace notify
