#include "maillib/HtmlToText.h"

#include "maillib/Charset.h"

#include <glib.h>

#include <map>

namespace maillib {

std::string HtmlToText(std::string_view html)
{
    static const std::map<std::string, std::string> entities = {
        {"amp", "&"},   {"lt", "<"},    {"gt", ">"},     {"quot", "\""},  {"apos", "'"},   {"nbsp", " "},
        {"copy", "©"},  {"reg", "®"},   {"yen", "¥"},    {"hellip", "…"}, {"mdash", "—"},  {"ndash", "–"},
        {"laquo", "«"}, {"raquo", "»"}, {"middot", "·"}, {"times", "×"},  {"divide", "÷"}, {"trade", "™"},
        {"bull", "•"},  {"rsquo", "’"}, {"lsquo", "‘"},  {"rdquo", "”"},  {"ldquo", "“"},  {"euro", "€"},
        {"deg", "°"},   {"ensp", " "},  {"emsp", " "},   {"thinsp", " "}, {"zwnj", ""},    {"zwj", ""}};
    std::string out;
    size_t i = 0;
    auto lowerTagName = [&](size_t p) {
        std::string name;
        while (p < html.size() && (g_ascii_isalnum(html[p]) || html[p] == '/' || html[p] == '!'))
            name += static_cast<char>(g_ascii_tolower(html[p++]));
        return name;
    };
    bool pendingSpace = false;
    auto newline = [&] {
        while (!out.empty() && out.back() == ' ') out.pop_back();
        out += '\n';
        pendingSpace = false;
    };
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            std::string name = lowerTagName(i + 1);
            if (html.compare(i, 4, "<!--") == 0) {
                size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            size_t end = html.find('>', i);
            if (end == std::string_view::npos) break;
            if (name == "script" || name == "style" || name == "head" || name == "title") {
                std::string closeTag = "</" + name;
                size_t p = end;
                size_t close = std::string_view::npos;
                while (p < html.size()) {
                    size_t lt = html.find("</", p);
                    if (lt == std::string_view::npos) break;
                    if (g_ascii_strncasecmp(html.data() + lt, closeTag.c_str(), closeTag.size()) == 0) {
                        close = lt;
                        break;
                    }
                    p = lt + 2;
                }
                if (close == std::string_view::npos) {
                    i = html.size();
                    continue;
                }
                size_t closeEnd = html.find('>', close);
                i = closeEnd == std::string_view::npos ? html.size() : closeEnd + 1;
                continue;
            }
            std::string bare = name[0] == '/' ? name.substr(1) : name;
            // XHTML's self-closing form, <br/>, is the same tag.
            while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
            if (bare == "br" || bare == "p" || bare == "div" || bare == "tr" || bare == "li" || bare == "h1" ||
                bare == "h2" || bare == "h3" || bare == "h4" || bare == "table" || bare == "blockquote" ||
                bare == "ul" || bare == "ol" || bare == "hr") {
                newline();
            } else if (bare == "td" || bare == "th") {
                pendingSpace = true;
            }
            i = end + 1;
            continue;
        }
        if (c == '&') {
            size_t semi = html.find(';', i);
            if (semi != std::string_view::npos && semi - i <= 10) {
                std::string ent(html.substr(i + 1, semi - i - 1));
                std::string rep;
                bool ok = false;
                if (!ent.empty() && ent[0] == '#') {
                    unsigned long cp = 0;
                    bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
                    std::string digits = ent.substr(hex ? 2 : 1);
                    if (!digits.empty() && digits.size() <= 7 &&
                        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos) {
                        cp = std::stoul(digits, nullptr, hex ? 16 : 10);
                        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
                        char buf[8];
                        int n = g_unichar_to_utf8(static_cast<gunichar>(cp), buf);
                        rep.assign(buf, static_cast<size_t>(n));
                        ok = true;
                    }
                } else if (auto it = entities.find(ent); it != entities.end()) {
                    rep = it->second;
                    ok = true;
                }
                if (ok) {
                    if (pendingSpace && !out.empty() && out.back() != '\n') out += ' ';
                    pendingSpace = false;
                    out += rep;
                    i = semi + 1;
                    continue;
                }
            }
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            pendingSpace = true;
            ++i;
            continue;
        }
        if (pendingSpace && !out.empty() && out.back() != '\n') out += ' ';
        pendingSpace = false;
        out += c;
        ++i;
    }
    // At most one blank line in a row; no blanks at line starts.
    std::string tidy;
    int newlines = 0;
    for (char ch : out) {
        if (ch == '\n') {
            if (++newlines <= 2) tidy += ch;
            continue;
        }
        if (ch == ' ' && (tidy.empty() || tidy.back() == '\n')) continue;
        newlines = 0;
        tidy += ch;
    }
    return charset::Trim(tidy);
}

} // namespace maillib
