#include "settings/NumberText.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace NumberText {

double LeadingNumber(const QString& text, bool* found)
{
    bool digits = false;
    bool negative = false;
    bool signSeen = false;
    bool pointSeen = false;
    double whole = 0.0;
    double scale = 1.0;
    for (const QChar ch : text) {
        if (ch == u' ' || ch == u'\t') continue;
        if (!signSeen && !digits && !pointSeen && (ch == u'-' || ch == u'+')) {
            signSeen = true;
            negative = ch == u'-';
            continue;
        }
        if (ch == u'.' && !pointSeen) {
            pointSeen = true;
            continue;
        }
        if (ch < u'0' || ch > u'9') break;
        digits = true;
        const int d = ch.unicode() - u'0';
        if (pointSeen) {
            scale /= 10.0;
            whole += d * scale;
        } else {
            whole = whole * 10.0 + d;
        }
    }
    if (found) *found = digits;
    if (!digits) return 0.0;
    return negative ? -whole : whole;
}

std::optional<qint16> ToInt16(const QString& text)
{
    bool found = false;
    const double value = LeadingNumber(text, &found);
    if (!found || !std::isfinite(value)) return std::nullopt;
    const double rounded = std::nearbyint(value); // default rounding mode: half to even
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

QString ToText(double value)
{
    if (value == std::floor(value) && std::fabs(value) < 1e15) return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'f', 10).remove(QRegularExpression(QStringLiteral("0+$")));
}

} // namespace NumberText
