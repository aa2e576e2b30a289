#include "maillib/MailReader.h"

#include "maillib/Charset.h"
#include "maillib/HtmlToText.h"
#include "maillib/MailAddress.h"
#include "maillib/MailDate.h"

#include <gmime/gmime.h>

#include <fstream>
#include <map>
#include <mutex>
#include <set>

namespace maillib {
namespace {

using charset::DecodeHeader;
using charset::Lower;
using charset::Trim;

constexpr size_t kMaxMailFileBytes = 32u * 1024 * 1024;

void InitGMime() { InitGMimeOnce(); }

template <typename T> struct GObjectPtr {
    T* p = nullptr;
    explicit GObjectPtr(T* ptr) : p(ptr) {}
    ~GObjectPtr()
    {
        if (p) g_object_unref(p);
    }
    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
};

std::vector<std::string> RawHeaders(GMimeObject* obj, const char* name)
{
    std::vector<std::string> out;
    GMimeHeaderList* list = g_mime_object_get_header_list(obj);
    if (!list) return out;
    int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        const char* hn = g_mime_header_get_name(h);
        const char* raw = g_mime_header_get_raw_value(h);
        if (hn && raw && g_ascii_strcasecmp(hn, name) == 0) out.emplace_back(raw);
    }
    return out;
}

std::string FirstRawHeader(GMimeObject* obj, const char* name)
{
    auto all = RawHeaders(obj, name);
    return all.empty() ? std::string() : all.front();
}

// ---- parameters (RFC 2231 and the encoded-word habit) ------------------------

std::string PercentDecode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && g_ascii_isxdigit(s[i + 1]) && g_ascii_isxdigit(s[i + 2])) {
            out += static_cast<char>(g_ascii_xdigit_value(s[i + 1]) * 16 + g_ascii_xdigit_value(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Returns the decoded value of parameter `want` in a raw header value.
std::string HeaderParam(const std::string& raw, const std::string& want)
{
    std::string text;
    for (char c : raw)
        if (c != '\r' && c != '\n') text += c;
    struct Segment {
        std::string value;
        bool encoded = false;
    };
    std::map<int, Segment> segments;
    std::string plain;
    bool havePlain = false, haveExtended = false;
    size_t i = text.find(';');
    while (i != std::string::npos && i < text.size()) {
        ++i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        size_t eq = text.find('=', i);
        size_t semi = text.find(';', i);
        if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
            i = semi;
            continue;
        }
        std::string key = Lower(Trim(text.substr(i, eq - i)));
        size_t v = eq + 1;
        while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
        std::string value;
        if (v < text.size() && text[v] == '"') {
            ++v;
            while (v < text.size() && text[v] != '"') {
                if (text[v] == '\\' && v + 1 < text.size()) ++v;
                value += text[v++];
            }
            i = text.find(';', v);
        } else {
            size_t stop = text.find(';', v);
            value = Trim(text.substr(v, stop == std::string::npos ? std::string::npos : stop - v));
            i = stop;
        }
        if (key == want) {
            plain = value;
            havePlain = true;
        } else if (key.rfind(want + "*", 0) == 0) {
            std::string rest = key.substr(want.size() + 1);
            bool encoded = !rest.empty() && rest.back() == '*';
            if (encoded) rest.pop_back();
            int index = 0;
            if (!rest.empty()) {
                if (rest.size() > 4 || rest.find_first_not_of("0123456789") != std::string::npos) continue;
                index = std::stoi(rest);
            } else {
                encoded = true; // "name*=" is the single extended form
            }
            segments[index] = Segment{value, encoded};
            haveExtended = true;
        }
    }
    if (haveExtended) {
        std::string cs, bytes;
        bool first = true;
        for (auto& [idx, seg] : segments) {
            std::string v = seg.value;
            if (first && seg.encoded) {
                auto q1 = v.find('\'');
                auto q2 = q1 == std::string::npos ? std::string::npos : v.find('\'', q1 + 1);
                if (q2 != std::string::npos) {
                    cs = v.substr(0, q1);
                    v = v.substr(q2 + 1);
                }
            }
            first = false;
            bytes += seg.encoded ? PercentDecode(v) : v;
        }
        std::string out = cs.empty() ? charset::GuessToUtf8(bytes) : charset::ToUtf8(bytes, cs);
        return Trim(charset::StripControls(charset::DecodeEncodedWords(out), ""));
    }
    if (havePlain) return DecodeHeader(plain);
    return {};
}

// ---- body -------------------------------------------------------------------

struct Walk {
    GMimePart* plain = nullptr;
    GMimePart* html = nullptr;
    std::vector<std::string> names;
};

std::string PartFilename(GMimeObject* obj)
{
    std::string name = HeaderParam(FirstRawHeader(obj, "Content-Disposition"), "filename");
    if (name.empty()) name = HeaderParam(FirstRawHeader(obj, "Content-Type"), "name");
    return name;
}

void WalkParts(GMimeObject* obj, Walk& w, int depth)
{
    if (!obj || depth > 64) return;
    if (GMIME_IS_MULTIPART(obj)) {
        GMimeMultipart* mp = GMIME_MULTIPART(obj);
        int n = g_mime_multipart_get_count(mp);
        for (int i = 0; i < n; ++i) WalkParts(g_mime_multipart_get_part(mp, i), w, depth + 1);
        return;
    }
    std::string filename = PartFilename(obj);
    GMimeContentDisposition* disp = g_mime_object_get_content_disposition(obj);
    bool attachment = disp && g_mime_content_disposition_is_attachment(disp);
    if (GMIME_IS_PART(obj) && !attachment && filename.empty()) {
        GMimeContentType* ct = g_mime_object_get_content_type(obj);
        if (ct && g_mime_content_type_is_type(ct, "text", "plain") && !w.plain) {
            w.plain = GMIME_PART(obj);
            return;
        }
        if (ct && g_mime_content_type_is_type(ct, "text", "html") && !w.html) {
            w.html = GMIME_PART(obj);
            return;
        }
    }
    if (!filename.empty()) w.names.push_back(filename);
}

std::string PartBytes(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::string out(reinterpret_cast<const char*>(arr->data), arr->len);
    g_object_unref(mem);
    return out;
}

std::string PartText(GMimePart* part)
{
    std::string bytes = PartBytes(part);
    const char* cs = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    return charset::ToUtf8(bytes, cs ? cs : "");
}

std::string NormaliseLineEnds(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Join(const std::vector<std::string>& v, const char* sep)
{
    std::string out;
    for (const auto& s : v) {
        if (!out.empty()) out += sep;
        out += s;
    }
    return out;
}

} // namespace

// GMime parses address lists in time that grows with the square of their length, so a
// spam mail with a huge To: would freeze the check. The fields nobody reads are dropped
// from the message's header block and the others cut to a sane length before parsing.
std::string TameHeaders(std::string_view bytes)
{
    static const std::set<std::string> unread = {"to",
                                                 "cc",
                                                 "bcc",
                                                 "reply-to",
                                                 "sender",
                                                 "resent-to",
                                                 "resent-cc",
                                                 "resent-bcc",
                                                 "resent-from",
                                                 "resent-sender",
                                                 "mail-followup-to",
                                                 "mail-reply-to",
                                                 "disposition-notification-to",
                                                 "return-receipt-to"};
    constexpr size_t kMaxField = 8192;
    size_t headerEnd = bytes.size();
    for (size_t p = 0; p < bytes.size();) {
        size_t nl = bytes.find('\n', p);
        size_t lineEnd = nl == std::string_view::npos ? bytes.size() : nl;
        std::string_view line = bytes.substr(p, lineEnd - p);
        if (line.empty() || line == "\r") {
            headerEnd = p;
            break;
        }
        p = nl == std::string_view::npos ? bytes.size() : nl + 1;
    }
    std::string out;
    out.reserve(bytes.size());
    for (size_t p = 0; p < headerEnd;) {
        // One field: its first line and the folded lines after it.
        size_t end = p;
        do {
            size_t nl = bytes.find('\n', end);
            end = nl == std::string_view::npos || nl + 1 > headerEnd ? headerEnd : nl + 1;
        } while (end < headerEnd && (bytes[end] == ' ' || bytes[end] == '\t'));
        std::string_view field = bytes.substr(p, end - p);
        p = end;
        std::string name(field.substr(0, std::min(field.find(':'), field.size())));
        for (char& ch : name) ch = static_cast<char>(g_ascii_tolower(ch));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
        if (unread.count(name)) continue;
        if (field.size() > kMaxField) {
            out.append(field.substr(0, kMaxField));
            out += "\r\n";
        } else {
            out.append(field);
        }
    }
    out.append(bytes.substr(headerEnd));
    return out;
}

MailFields ParseMail(std::string_view original)
{
    InitGMime();
    MailFields f;
    const std::string tamed = TameHeaders(original);
    const std::string_view bytes = tamed;
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.p));
    g_mime_parser_set_format(parser.p, GMIME_FORMAT_MESSAGE);
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.p, nullptr));
    if (!message.p) {
        f.body = charset::StripControls(NormaliseLineEnds(charset::GuessToUtf8(bytes)), "\n\t");
        return f;
    }
    GMimeObject* msg = GMIME_OBJECT(message.p);
    f.subject = DecodeHeader(FirstRawHeader(msg, "Subject"));
    f.from = FormatAddressHeader(FirstRawHeader(msg, "From"));
    f.date = MailDateText(FirstRawHeader(msg, "Date"), RawHeaders(msg, "Received"));

    Walk w;
    WalkParts(g_mime_message_get_mime_part(message.p), w, 0);
    f.attachments = Join(w.names, ",");
    std::string body;
    if (w.plain) body = PartText(w.plain);
    else if (w.html) body = HtmlToText(NormaliseLineEnds(PartText(w.html)));
    f.body = charset::StripControls(NormaliseLineEnds(body), "\n\t");
    return f;
}

std::optional<std::vector<std::string>> FieldsToList(const MailFields& f, std::string_view fieldList)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < fieldList.size()) {
        size_t colon = fieldList.find(':', start);
        std::string name = Lower(
            Trim(fieldList.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start)));
        start = colon == std::string_view::npos ? fieldList.size() : colon + 1;
        if (name.empty()) continue;
        std::string value;
        if (name == "subject") value = f.subject;
        else if (name == "from") value = f.from;
        else if (name == "date") value = f.date;
        else if (name == "nofile") value = f.attachments;
        else if (name == "body") continue; // always last
        out.push_back(name + ": " + value);
    }
    out.push_back("body:" + f.body);
    return out;
}

std::optional<std::vector<std::string>> ReadMailFile(const std::string& path, std::string_view fieldList)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        data.append(buf, static_cast<size_t>(in.gcount()));
        if (data.size() > kMaxMailFileBytes) {
            data.resize(kMaxMailFileBytes);
            break;
        }
    }
    if (in.bad()) return std::nullopt;
    return FieldsToList(ParseMail(data), fieldList);
}

void InitGMimeOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

} // namespace maillib
