#include "maillib/MailAddress.h"

#include "maillib/Charset.h"

#include <vector>

namespace maillib {
namespace {

using charset::Trim;

// Splits at top-level commas, outside quotes, comments and angle brackets.
std::vector<std::string> SplitAddresses(const std::string& s)
{
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    int comment = 0, angle = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (quoted) {
            if (c == '\\' && i + 1 < s.size()) {
                cur += c;
                cur += s[++i];
                continue;
            }
            if (c == '"') quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            ++comment;
        } else if (c == ')' && comment > 0) {
            --comment;
        } else if (c == '<' && comment == 0) {
            ++angle;
        } else if (c == '>' && angle > 0 && comment == 0) {
            --angle;
        } else if (c == ',' && !comment && !angle) {
            out.push_back(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    out.push_back(cur);
    return out;
}

std::string CollapseBlanks(const std::string& s)
{
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

std::string FormatMailbox(const std::string& m)
{
    std::string name, addr, comment;
    bool quoted = false;
    int depth = 0;
    size_t lt = std::string::npos, gt = std::string::npos;
    std::string outside; // text outside comments and quotes markers
    for (size_t i = 0; i < m.size(); ++i) {
        char c = m[i];
        if (quoted) {
            if (c == '\\' && i + 1 < m.size()) {
                outside += m[++i];
                continue;
            }
            if (c == '"') {
                quoted = false;
                continue;
            }
            outside += c;
            continue;
        }
        if (depth > 0) {
            if (c == '(') ++depth;
            else if (c == ')' && --depth == 0) continue;
            comment += c;
            continue;
        }
        if (c == '"') {
            quoted = true;
            continue;
        }
        if (c == '(') {
            depth = 1;
            if (!comment.empty()) comment += ' ';
            continue;
        }
        if (c == '<' && lt == std::string::npos) lt = outside.size();
        if (c == '>' && lt != std::string::npos) gt = outside.size();
        outside += c;
    }
    if (lt != std::string::npos) {
        size_t end = gt == std::string::npos ? outside.size() : gt;
        addr = Trim(outside.substr(lt + 1, end - lt - 1));
        name = outside.substr(0, lt);
        if (gt != std::string::npos) name += outside.substr(gt + 1);
    } else {
        addr = Trim(outside);
        name = comment;
    }
    // Drop an obsolete source route "@a,@b:user@host".
    if (auto colon = addr.find(':'); colon != std::string::npos && !addr.empty() && addr[0] == '@')
        addr = addr.substr(colon + 1);
    addr = CollapseBlanks(Trim(addr));
    name = CollapseBlanks(Trim(charset::DecodeEncodedWords(Trim(name))));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = Trim(name.substr(1, name.size() - 2));
    if (name.empty() || name == addr) return addr;
    if (addr.empty()) return name;
    return name + " <" + addr + ">";
}

} // namespace

std::string FormatAddressHeader(const std::string& raw)
{
    std::string unfolded;
    for (char c : raw)
        if (c != '\r' && c != '\n') unfolded += c == '\t' ? ' ' : c;
    // Raw 8-bit or JIS text becomes UTF-8 first: CP932 trail bytes can look like '\\'.
    std::string text = charset::GuessToUtf8(unfolded);
    std::string out;
    for (const auto& m : SplitAddresses(text)) {
        std::string f = FormatMailbox(m);
        if (f.empty()) continue;
        if (!out.empty()) out += ", ";
        out += f;
    }
    return Trim(charset::StripControls(out, ""));
}

} // namespace maillib
