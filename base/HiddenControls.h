// Characters that change how the text around them is shown without being seen themselves.
// A line for a log, a terminal or a notification drops them, so that what a server sent can
// neither break the line, nor reorder it (a right-to-left override turns "gpj.exe" around),
// nor hide part of it. Plain C++ so that the mail library and the Qt side agree.
#pragma once

namespace fw {

// C0 controls, DEL and the C1 controls (U+009B starts a terminal escape).
constexpr bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The line and paragraph separators, which some terminals and viewers break lines at.
constexpr bool IsLineSeparator(char32_t c) { return c == 0x2028 || c == 0x2029; }

// Bidirectional embeddings, overrides, isolates and marks, and the invisible format characters
// that carry nothing a reader sees (zero-width space, word joiner, byte order mark, ...).
// The zero-width joiners U+200C and U+200D stay: they shape scripts and emoji.
constexpr bool IsInvisibleFormat(char32_t c)
{
    return c == 0x061C || c == 0x200B || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

constexpr bool IsHiddenControl(char32_t c) { return IsControl(c) || IsLineSeparator(c) || IsInvisibleFormat(c); }

} // namespace fw
