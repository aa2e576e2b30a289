#include "maillib/MailDate.h"

#include "maillib/Charset.h"

#include <gmime/gmime.h>

#include <string_view>

namespace maillib {
namespace {

using charset::Trim;

// GMime reads "JST" as UTC; the zone is +0900.
std::string FixZoneNames(const std::string& raw)
{
    std::string out;
    int depth = 0;
    size_t i = 0;
    while (i < raw.size()) {
        char c = raw[i];
        if (c == '(') ++depth;
        else if (c == ')' && depth > 0) --depth;
        if (depth == 0 && (i == 0 || raw[i - 1] == ' ' || raw[i - 1] == '\t') && raw.size() - i >= 3 &&
            g_ascii_strncasecmp(raw.c_str() + i, "JST", 3) == 0 &&
            (i + 3 == raw.size() || std::string_view(" \t\r\n(").find(raw[i + 3]) != std::string_view::npos)) {
            out += "+0900";
            i += 3;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

GDateTime* ParseDate(const std::string& raw)
{
    std::string text = Trim(charset::StripControls(FixZoneNames(raw), ""));
    if (text.empty()) return nullptr;
    GDateTime* dt = g_mime_utils_header_decode_date(text.c_str());
    if (!dt) return nullptr;
    int year = g_date_time_get_year(dt);
    if (year < 1900 || year > 9999) {
        g_date_time_unref(dt);
        return nullptr;
    }
    return dt;
}

std::string FormatLocal(GDateTime* dt)
{
    GDateTime* local = g_date_time_to_local(dt);
    if (!local) return {};
    gchar* s = g_date_time_format(local, "%Y/%m/%d %H:%M:%S");
    std::string out = s ? s : "";
    g_free(s);
    g_date_time_unref(local);
    return out;
}

} // namespace

std::string MailDateText(const std::string& dateHeader, const std::vector<std::string>& receivedHeaders)
{
    if (GDateTime* dt = ParseDate(dateHeader)) {
        std::string out = FormatLocal(dt);
        g_date_time_unref(dt);
        return out;
    }
    // The newest Received: stamp is the same for the same mail at every check.
    GDateTime* best = nullptr;
    for (const auto& r : receivedHeaders) {
        auto semi = r.rfind(';');
        if (semi == std::string::npos) continue;
        GDateTime* dt = ParseDate(r.substr(semi + 1));
        if (!dt) continue;
        if (!best || g_date_time_compare(dt, best) > 0) {
            if (best) g_date_time_unref(best);
            best = dt;
        } else {
            g_date_time_unref(dt);
        }
    }
    if (!best) return {};
    std::string out = FormatLocal(best);
    g_date_time_unref(best);
    return out;
}

} // namespace maillib
