#include "maillib/ImapMailboxName.h"

#include <cstdint>
#include <vector>

namespace maillib::imap {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool Printable(uint32_t c) { return c >= 0x20 && c <= 0x7E; }

// The next code point of valid UTF-8 (no overlong forms, no surrogates), or nullopt.
std::optional<uint32_t> NextCodePoint(std::string_view s, size_t& i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || s.size() - i <= static_cast<size_t>(extra)) return std::nullopt;
    uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char t = byte(i + static_cast<size_t>(k));
        if ((t & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (t & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    i += static_cast<size_t>(extra) + 1;
    return c;
}

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendBase64(std::string& out, const std::vector<uint16_t>& units)
{
    uint32_t bits = 0;
    int count = 0;
    for (uint16_t u : units) {
        bits = (bits << 16) | u;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
}

// The UTF-16 units of one "&...-" run, turned into UTF-8.
bool DecodeRun(std::string_view b64, std::string& out)
{
    uint32_t bits = 0;
    int count = 0;
    std::vector<uint16_t> units;
    for (char ch : b64) {
        size_t v = kAlphabet.find(ch);
        if (v == std::string_view::npos) return false;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 16) {
            count -= 16;
            units.push_back(static_cast<uint16_t>(bits >> count));
            bits &= (1u << count) - 1;
        }
    }
    // What is left over pads the last unit: fewer than 6 bits, all zero.
    if (count >= 6 || bits != 0 || units.empty()) return false;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (Printable(c)) return false; // printable ASCII always stands for itself
        AppendUtf8(out, c);
    }
    return true;
}

} // namespace

std::optional<std::string> EncodeModifiedUtf7(std::string_view utf8)
{
    std::string out;
    std::vector<uint16_t> run;
    auto flush = [&] {
        if (run.empty()) return;
        out += '&';
        AppendBase64(out, run);
        out += '-';
        run.clear();
    };
    for (size_t i = 0; i < utf8.size();) {
        auto c = NextCodePoint(utf8, i);
        if (!c || *c < 0x20 || *c == 0x7F || (*c >= 0x80 && *c <= 0x9F)) return std::nullopt;
        if (Printable(*c)) {
            flush();
            out += *c == '&' ? std::string("&-") : std::string(1, static_cast<char>(*c));
        } else if (*c < 0x10000) {
            run.push_back(static_cast<uint16_t>(*c));
        } else {
            uint32_t v = *c - 0x10000;
            run.push_back(static_cast<uint16_t>(0xD800 + (v >> 10)));
            run.push_back(static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
    flush();
    return out;
}

std::optional<std::string> DecodeModifiedUtf7(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (!Printable(static_cast<unsigned char>(c))) return std::nullopt;
        if (c != '&') {
            out += c;
            continue;
        }
        size_t end = text.find('-', i + 1);
        if (end == std::string_view::npos) return std::nullopt;
        if (end == i + 1) {
            out += '&';
        } else if (!DecodeRun(text.substr(i + 1, end - i - 1), out)) {
            return std::nullopt;
        }
        i = end;
    }
    return out;
}

bool SameMailbox(std::string_view a, std::string_view b)
{
    auto isInbox = [](std::string_view s) {
        if (s.size() != 5) return false;
        for (size_t i = 0; i < 5; ++i)
            if ((s[i] & ~0x20) != "INBOX"[i]) return false;
        return true;
    };
    return a == b || (isInbox(a) && isInbox(b));
}

} // namespace maillib::imap
