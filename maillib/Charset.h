// Text decoding for Japanese-grade mail: charsets, RFC 2047 words, 8-bit guessing.
#pragma once

#include <string>
#include <string_view>

namespace maillib::charset {

// Converts bytes in the named charset to UTF-8. Unknown or lying labels fall
// back to guessing; the result is always valid UTF-8.
std::string ToUtf8(std::string_view bytes, std::string_view charsetLabel);

// Guesses undeclared bytes: ISO-2022-JP escapes, then UTF-8, CP932, EUC-JP.
std::string GuessToUtf8(std::string_view bytes);

// Decodes ISO-2022-JP including the NEC and IBM extension rows (via CP932).
std::string Iso2022JpToUtf8(std::string_view bytes);

// Unfolds a raw header value and decodes its encoded-words and raw 8-bit text.
std::string DecodeHeader(std::string_view raw);

// Decodes encoded-words only; text outside them must already be UTF-8.
std::string DecodeEncodedWords(std::string_view utf8Text);

// A charset label as compared: trimmed, lower case, without quotes or an RFC 2231 language.
std::string NormaliseLabel(std::string_view label);

bool IsValidUtf8(std::string_view s);
std::string MakeValidUtf8(std::string_view s);

// Drops NUL and C0/DEL controls except the ones kept (e.g. "\n\t").
std::string StripControls(std::string_view s, std::string_view keep);

// For text shown to a person: makes it valid UTF-8 and drops C0 controls, DEL, the C1
// controls, the line separators and the invisible bidi and format characters
// (fw::IsHiddenControl), except the ASCII ones in `keep`.
std::string StripDisplayControls(std::string_view s, std::string_view keep);

std::string Trim(std::string_view s);
std::string Lower(std::string_view s);

} // namespace maillib::charset
