// RFC 2047 encoded-words ("=?charset?B?...?="), decoded as mailers really write them:
// unterminated words, words split inside a character, blanks between words.
#include "maillib/Charset.h"

#include <cstdint>
#include <vector>

namespace maillib::charset {
namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodeBase64Lenient(std::string_view in)
{
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char ch : in) {
        int v;
        if (ch >= 'A' && ch <= 'Z') v = ch - 'A';
        else if (ch >= 'a' && ch <= 'z') v = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9') v = ch - '0' + 52;
        else if (ch == '+') v = 62;
        else if (ch == '/') v = 63;
        else if (ch == '=') break;
        else continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::string DecodeQWord(std::string_view in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

struct Piece {
    bool encoded = false;
    std::string charset; // normalised, for encoded pieces
    std::string bytes;
};

bool IsCharsetChar(char c)
{
    auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '?' && c != '(' && c != ')' && c != '<' && c != '>' && c != '"' && c != ',' &&
           c != ';';
}

// Parses "=?cs?E?text?=" at pos; an unterminated word runs to the next blank.
bool ParseEncodedWord(std::string_view s, size_t pos, size_t& end, Piece& piece)
{
    if (s.compare(pos, 2, "=?") != 0) return false;
    size_t p = pos + 2;
    size_t csStart = p;
    while (p < s.size() && IsCharsetChar(s[p]) && p - csStart < 64) ++p;
    if (p == csStart || p >= s.size() || s[p] != '?') return false;
    std::string cs(s.substr(csStart, p - csStart));
    ++p;
    if (p + 1 >= s.size() || s[p + 1] != '?') return false;
    char enc = static_cast<char>(s[p] | 0x20);
    if (enc != 'b' && enc != 'q') return false;
    p += 2;
    size_t textStart = p;
    size_t close = s.find("?=", p);
    size_t blank = s.find_first_of(" \t\r\n", p);
    std::string_view text;
    if (close != std::string_view::npos && (blank == std::string_view::npos || close < blank || enc == 'q')) {
        text = s.substr(textStart, close - textStart);
        end = close + 2;
    } else {
        size_t stop = blank == std::string_view::npos ? s.size() : blank;
        text = s.substr(textStart, stop - textStart);
        end = stop;
    }
    piece.encoded = true;
    piece.charset = NormaliseLabel(cs);
    piece.bytes = enc == 'b' ? DecodeBase64Lenient(text) : DecodeQWord(text);
    return true;
}

} // namespace

std::string DecodeEncodedWords(std::string_view s)
{
    std::vector<Piece> pieces;
    size_t i = 0;
    std::string plain;
    auto pushPlain = [&] {
        if (!plain.empty()) {
            pieces.push_back(Piece{false, {}, plain});
            plain.clear();
        }
    };
    while (i < s.size()) {
        size_t end = 0;
        Piece w;
        if (s[i] == '=' && ParseEncodedWord(s, i, end, w)) {
            // Blanks between two encoded-words are not part of the text.
            if (!pieces.empty() && pieces.back().encoded && !plain.empty() &&
                plain.find_first_not_of(" \t\r\n") == std::string::npos)
                plain.clear();
            pushPlain();
            pieces.push_back(std::move(w));
            i = end;
            continue;
        }
        plain.push_back(s[i]);
        ++i;
    }
    pushPlain();

    std::string out;
    for (size_t k = 0; k < pieces.size();) {
        if (!pieces[k].encoded) {
            out += pieces[k].bytes;
            ++k;
            continue;
        }
        // Join adjacent words of one charset: a character may be split between them.
        std::string bytes = pieces[k].bytes;
        size_t j = k + 1;
        while (j < pieces.size() && pieces[j].encoded && pieces[j].charset == pieces[k].charset)
            bytes += pieces[j++].bytes;
        out += ToUtf8(bytes, pieces[k].charset);
        k = j;
    }
    return MakeValidUtf8(out);
}

} // namespace maillib::charset
