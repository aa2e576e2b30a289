#pragma once
#include <QString>

namespace TextUtil {

// Removes leading and trailing space characters (U+0020) only, as the settings and the
// mail tables expect; other blanks are part of the text.
QString TrimSpaces(const QString& text);

// The first `count` characters (Unicode code points, so a surrogate pair is one character).
QString LeftChars(const QString& text, int count);

// Number of characters (code points).
int CharCount(const QString& text);

// `text` as one line for a log or a terminal: line breaks, other controls and the line
// separators become spaces, and the invisible bidi and format characters go
// (fw::IsHiddenControl).
QString OneLine(const QString& text);

} // namespace TextUtil
