#include "maillib/Charset.h"

#include "base/HiddenControls.h"
#include "base/IconvConverter.h"

#include <glib.h>

namespace maillib::charset {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool HasJisEscape(std::string_view s)
{
    return s.find("\x1b$B") != std::string_view::npos || s.find("\x1b$@") != std::string_view::npos ||
           s.find("\x1b$(D") != std::string_view::npos || s.find("\x1b(I") != std::string_view::npos;
}

// Converts with iconv; invalid input becomes U+FFFD. Returns false when the
// charset is unknown to iconv or (strict) when anything had to be replaced.
bool IconvConvert(std::string_view in, const char* from, std::string& out, bool strict)
{
    fw::IconvConverter cv("UTF-8", from);
    if (!cv.valid()) return false;
    out.clear();
    out.reserve(in.size() * 3 / 2 + 16);
    return cv.Convert(in, out, strict ? fw::IconvConverter::OnInvalid::Stop : fw::IconvConverter::OnInvalid::Replace);
}

bool IsShiftJisLabel(const std::string& l)
{
    static const char* const labels[] = {"shift_jis",   "shift-jis",  "x-sjis",       "sjis",
                                         "windows-31j", "ms_kanji",   "cp932",        "ms932",
                                         "x-ms-cp932",  "csshiftjis", "csWindows31J", "shift_jisx0213"};
    for (const char* s : labels)
        if (l == Lower(s)) return true;
    return false;
}

bool IsEucJpLabel(const std::string& l)
{
    return l == "euc-jp" || l == "eucjp" || l == "x-euc-jp" || l == "x-euc" || l == "euc_jp" ||
           l == "cseucpkdfmtjapanese" || l == "euc-jp-ms" || l == "cp51932";
}

bool IsIso2022JpLabel(const std::string& l)
{
    return l.rfind("iso-2022-jp", 0) == 0 || l == "csiso2022jp" || l == "cp50220" || l == "cp50221" || l == "cp50222" ||
           l == "jis" || l == "iso2022jp";
}

bool IsUtf8Label(const std::string& l)
{
    return l == "utf-8" || l == "utf8" || l == "us-ascii" || l == "ascii" || l == "ansi_x3.4-1968" || l.empty() ||
           l == "unknown-8bit" || l == "x-unknown" || l == "x-user-defined" || l == "default" || l == "7bit" ||
           l == "8bit";
}

size_t CountHalfwidthKana(std::string_view utf8)
{
    // U+FF61..U+FF9F are EF BD A1..EF BD BF and EF BE 80..EF BE 9F.
    size_t n = 0;
    for (size_t i = 0; i + 2 < utf8.size(); ++i) {
        auto a = static_cast<unsigned char>(utf8[i]), b = static_cast<unsigned char>(utf8[i + 1]),
             c = static_cast<unsigned char>(utf8[i + 2]);
        if (a == 0xEF && ((b == 0xBD && c >= 0xA1) || (b == 0xBE && c <= 0x9F))) ++n;
    }
    return n;
}

} // namespace

std::string NormaliseLabel(std::string_view label)
{
    std::string l = Lower(Trim(label));
    // RFC 2231 language suffix: charset*lang
    if (auto star = l.find('*'); star != std::string::npos) l.resize(star);
    if (l.size() >= 2 && l.front() == '"' && l.back() == '"') l = l.substr(1, l.size() - 2);
    return l;
}

std::string Trim(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

std::string Lower(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool IsValidUtf8(std::string_view s) { return g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr) != 0; }

std::string MakeValidUtf8(std::string_view s)
{
    if (IsValidUtf8(s)) return std::string(s);
    std::string out;
    out.reserve(s.size());
    const char* p = s.data();
    const char* end = s.data() + s.size();
    while (p < end) {
        const char* bad = nullptr;
        g_utf8_validate(p, end - p, &bad);
        out.append(p, static_cast<size_t>(bad - p));
        if (bad >= end) break;
        if (*bad == '\0') out.push_back('\0'); // g_utf8_validate stops at NUL; keep it for the caller to strip
        else out.append(kReplacement);
        p = bad + 1;
    }
    return out;
}

std::string StripControls(std::string_view s, std::string_view keep)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 || u == 0x7F) && keep.find(c) == std::string_view::npos) continue;
        out.push_back(c);
    }
    return out;
}

std::string StripDisplayControls(std::string_view s, std::string_view keep)
{
    const std::string valid = MakeValidUtf8(s);
    std::string out;
    out.reserve(valid.size());
    for (size_t i = 0; i < valid.size();) {
        const auto lead = static_cast<unsigned char>(valid[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length && i + k < valid.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        const bool kept = length == 1 && keep.find(valid[i]) != std::string_view::npos;
        if (kept || !fw::IsHiddenControl(c)) out.append(valid, i, length);
        i += length;
    }
    return out;
}

std::string Iso2022JpToUtf8(std::string_view in)
{
    enum class Set { Ascii, Kana, Jis0208, Jis0212 };
    Set set = Set::Ascii;
    bool shiftOut = false;
    std::string sjis; // pending text in CP932
    std::string out;
    auto flush = [&] {
        if (sjis.empty()) return;
        std::string conv;
        if (!IconvConvert(sjis, "CP932", conv, false)) conv = MakeValidUtf8(sjis);
        out += conv;
        sjis.clear();
    };
    for (size_t i = 0; i < in.size(); ++i) {
        auto c = static_cast<unsigned char>(in[i]);
        if (c == 0x1B) {
            std::string_view rest = in.substr(i + 1);
            size_t len = 0;
            if (rest.rfind("$B", 0) == 0 || rest.rfind("$@", 0) == 0) {
                set = Set::Jis0208;
                len = 2;
            } else if (rest.rfind("$(D", 0) == 0) {
                set = Set::Jis0212;
                len = 3;
            } else if (rest.rfind("$(Q", 0) == 0 || rest.rfind("$(O", 0) == 0) {
                set = Set::Jis0208; // JIS X 0213 plane 1: its common part equals JIS X 0208
                len = 3;
            } else if (rest.rfind("(B", 0) == 0 || rest.rfind("(J", 0) == 0 || rest.rfind("(H", 0) == 0) {
                set = Set::Ascii;
                len = 2;
            } else if (rest.rfind("(I", 0) == 0) {
                set = Set::Kana;
                len = 2;
            } else if (rest.rfind("&@", 0) == 0) {
                len = 2; // JIS X 0208-1990 announcer; the designation follows
            }
            if (len) {
                i += len;
                continue;
            }
            continue; // unknown escape: drop the ESC byte
        }
        if (c == 0x0E) {
            shiftOut = true;
            continue;
        }
        if (c == 0x0F) {
            shiftOut = false;
            continue;
        }
        if (c == '\r' || c == '\n') {
            // A line end resets to ASCII in well-formed text; be lenient with broken senders.
            sjis.push_back(static_cast<char>(c));
            set = Set::Ascii;
            continue;
        }
        if ((shiftOut || set == Set::Kana) && c >= 0x21 && c <= 0x5F) {
            sjis.push_back(static_cast<char>(c | 0x80));
            continue;
        }
        if ((set == Set::Jis0208 || set == Set::Jis0212) && c >= 0x21 && c <= 0x7E && i + 1 < in.size()) {
            auto c2 = static_cast<unsigned char>(in[i + 1]);
            if (c2 >= 0x21 && c2 <= 0x7E) {
                ++i;
                if (set == Set::Jis0208) {
                    unsigned s1 = ((c + 1u) >> 1) + (c <= 0x5E ? 0x70u : 0xB0u);
                    unsigned s2 = c2 + ((c & 1u) ? (c2 >= 0x60 ? 0x20u : 0x1Fu) : 0x7Eu);
                    sjis.push_back(static_cast<char>(s1));
                    sjis.push_back(static_cast<char>(s2));
                } else {
                    flush();
                    const char euc[] = {static_cast<char>(0x8F), static_cast<char>(c | 0x80),
                                        static_cast<char>(c2 | 0x80)};
                    std::string conv;
                    if (IconvConvert(std::string_view(euc, 3), "EUC-JP", conv, true)) out += conv;
                    else out.append(kReplacement);
                }
                continue;
            }
        }
        sjis.push_back(static_cast<char>(c));
    }
    flush();
    return MakeValidUtf8(out);
}

std::string GuessToUtf8(std::string_view bytes)
{
    if (HasJisEscape(bytes)) return Iso2022JpToUtf8(bytes);
    if (IsAscii(bytes) || IsValidUtf8(bytes)) return std::string(bytes);
    std::string sjis, euc;
    bool sjisOk = IconvConvert(bytes, "CP932", sjis, true);
    bool eucOk = IconvConvert(bytes, "EUC-JP-MS", euc, true);
    if (sjisOk && eucOk) {
        // EUC-JP kanji and kana pairs read as CP932 mostly come out as
        // half-width katakana, which real CP932 text rarely is made of.
        return CountHalfwidthKana(sjis) > CountHalfwidthKana(euc) ? euc : sjis;
    }
    if (sjisOk) return sjis;
    if (eucOk) return euc;
    IconvConvert(bytes, "CP932", sjis, false);
    return MakeValidUtf8(sjis);
}

std::string ToUtf8(std::string_view bytes, std::string_view charsetLabel)
{
    std::string l = NormaliseLabel(charsetLabel);
    if (HasJisEscape(bytes) && l.rfind("utf-16", 0) != 0 && l.rfind("utf-32", 0) != 0) return Iso2022JpToUtf8(bytes);
    if (IsAscii(bytes)) return std::string(bytes);
    if (IsUtf8Label(l) || IsIso2022JpLabel(l)) {
        if (l == "utf-8" || l == "utf8") {
            // A UTF-8 text cut inside its last character is still UTF-8.
            const char* bad = nullptr;
            g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), &bad);
            if (bad && bytes.size() - static_cast<size_t>(bad - bytes.data()) < 4 &&
                (static_cast<unsigned char>(*bad) & 0xC0) == 0xC0)
                return MakeValidUtf8(bytes);
        }
        return GuessToUtf8(bytes); // 8-bit text under a 7-bit or UTF-8 label: senders lie
    }
    std::string out;
    if (IsShiftJisLabel(l)) {
        if (!IconvConvert(bytes, "CP932", out, true)) {
            if (IsValidUtf8(bytes)) return std::string(bytes);
            IconvConvert(bytes, "CP932", out, false);
        }
        return MakeValidUtf8(out);
    }
    if (IsEucJpLabel(l)) {
        if (!IconvConvert(bytes, "EUC-JP-MS", out, true) && !IconvConvert(bytes, "EUC-JP", out, true)) {
            if (IsValidUtf8(bytes)) return std::string(bytes);
            IconvConvert(bytes, "EUC-JP-MS", out, false);
        }
        return MakeValidUtf8(out);
    }
    // Labels are ASCII tokens; anything else is not worth handing to iconv.
    bool sane = !l.empty() && l.size() < 40;
    for (char c : l)
        if (!(g_ascii_isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':')) sane = false;
    if (sane && IconvConvert(bytes, l.c_str(), out, false)) return MakeValidUtf8(out);
    return GuessToUtf8(bytes);
}

std::string DecodeHeader(std::string_view raw)
{
    std::string unfolded;
    unfolded.reserve(raw.size());
    for (char c : raw)
        if (c != '\r' && c != '\n') unfolded.push_back(c == '\t' ? ' ' : c);
    std::string text = IsAscii(unfolded) && !HasJisEscape(unfolded) ? unfolded : GuessToUtf8(unfolded);
    std::string decoded = DecodeEncodedWords(text);
    return Trim(StripControls(decoded, ""));
}

} // namespace maillib::charset
