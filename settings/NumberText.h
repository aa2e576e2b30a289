#pragma once
#include <QString>
#include <optional>

namespace NumberText {

// The leading number of a text: read from the left, blanks ignored, stopping at the first
// character that cannot continue a decimal number ("12abc" 12, "abc" 0, "4.5" 4.5).
// `found` tells whether any digit was read.
double LeadingNumber(const QString& text, bool* found = nullptr);

// A stored number for the resident side: the leading number rounded half to even
// (2.5 gives 2, 3.5 gives 4). Empty when there is no number or it leaves the 16-bit range.
std::optional<qint16> ToInt16(const QString& text);

// Plain decimal text of a number, without exponent or trailing zeros ("3", "-2", "4.5").
QString ToText(double value);

} // namespace NumberText
