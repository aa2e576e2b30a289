#include "maillib/ImapResponse.h"

#include <algorithm>
#include <limits>

namespace maillib::imap {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string UpperCase(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Upper);
    return out;
}

bool IsDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<uint64_t> Digits(std::string_view s)
{
    if (!IsDigits(s) || s.size() > 19) return std::nullopt;
    uint64_t n = 0;
    for (char c : s) n = n * 10 + static_cast<uint64_t>(c - '0');
    return n;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// A literal's size as announced at the end of a line: "{123}" (or "~{123}", the binary
// form). Sizes too large to count are taken as the largest size, which no bound admits.
std::optional<size_t> LiteralMarker(std::string_view segment)
{
    if (segment.size() < 3 || segment.back() != '}') return std::nullopt;
    size_t open = segment.rfind('{');
    if (open == std::string_view::npos) return std::nullopt;
    std::string_view digits = segment.substr(open + 1, segment.size() - open - 2);
    if (!IsDigits(digits)) return std::nullopt;
    if (auto n = Digits(digits); n && *n <= std::numeric_limits<size_t>::max()) return static_cast<size_t>(*n);
    return std::numeric_limits<size_t>::max();
}

// Reads the values of a response's data part.
class Cursor {
public:
    Cursor(std::string_view s, int maxDepth, bool cut) : s_(s), maxDepth_(maxDepth), cut_(cut) {}

    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
    void SkipSpaces()
    {
        while (!AtEnd() && s_[pos_] == ' ') ++pos_;
    }
    std::string_view Word()
    {
        size_t end = std::min(s_.find(' ', pos_), s_.size());
        std::string_view w = s_.substr(pos_, end - pos_);
        pos_ = end;
        return w;
    }
    std::string_view Rest()
    {
        std::string_view r = s_.substr(std::min(pos_, s_.size()));
        pos_ = s_.size();
        return r;
    }
    void Advance(size_t n) { pos_ = std::min(pos_ + n, s_.size()); }
    size_t Find(char c) const { return s_.find(c, pos_); }
    std::string_view From(size_t at, size_t n) const { return s_.substr(at, n); }
    size_t Pos() const { return pos_; }

    // Values up to the end (top level) or up to the ')' that closes the list.
    bool Items(std::vector<Value>& items, int depth, bool inList)
    {
        for (;;) {
            SkipSpaces();
            if (AtEnd()) return !inList;
            char c = Peek();
            if (c == ')') {
                if (!inList) return false;
                ++pos_;
                return true;
            }
            Value v;
            bool ok = true;
            if (c == '(') {
                if (depth + 1 > maxDepth_) return false;
                ++pos_;
                v.kind = Value::Kind::List;
                ok = Items(v.items, depth + 1, true);
            } else if (c == '"') {
                v.kind = Value::Kind::String;
                ok = Quoted(v.text);
            } else if (c == '{' || (c == '~' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '{')) {
                v.kind = Value::Kind::String;
                ok = Literal(v.text);
            } else {
                ok = Atom(v.text);
                if (ok && v.Is("NIL")) {
                    v.kind = Value::Kind::Nil;
                    v.text.clear();
                }
            }
            items.push_back(std::move(v));
            if (!ok) return false;
        }
    }

private:
    bool Quoted(std::string& out)
    {
        ++pos_;
        while (!AtEnd()) {
            char c = s_[pos_++];
            if (c == '"') return true;
            if (c == '\\') {
                if (AtEnd()) return false;
                c = s_[pos_++];
            }
            out += c;
        }
        return false;
    }

    bool Literal(std::string& out)
    {
        if (s_[pos_] == '~') ++pos_;
        size_t close = s_.find('}', pos_);
        if (close == std::string_view::npos) return false;
        std::string_view digits = s_.substr(pos_ + 1, close - pos_ - 1);
        // A size too large to count was cut by the reader: what is there is all there is.
        auto n = IsDigits(digits) ? Digits(digits).value_or(std::numeric_limits<uint64_t>::max())
                                  : std::optional<uint64_t>();
        if (!n || s_.substr(close + 1, 2) != "\r\n") return false;
        pos_ = close + 3;
        size_t have = s_.size() - pos_;
        if (*n > have && !cut_) return false;
        size_t take = static_cast<size_t>(std::min<uint64_t>(*n, have));
        out.assign(s_.substr(pos_, take));
        pos_ += take;
        return take == *n;
    }

    // An atom, or a fetch item name: "BODY[HEADER.FIELDS (DATE)]<0>" is one word.
    bool Atom(std::string& out)
    {
        size_t start = pos_;
        int brackets = 0;
        while (!AtEnd()) {
            char c = s_[pos_];
            if (IsControl(c)) return false;
            if (brackets == 0 && (c == ' ' || c == '(' || c == ')')) break;
            if (c == '[') ++brackets;
            if (c == ']' && brackets > 0) --brackets;
            ++pos_;
        }
        out.assign(s_.substr(start, pos_ - start));
        return brackets == 0 && !out.empty();
    }

    std::string_view s_;
    size_t pos_ = 0;
    int maxDepth_;
    bool cut_;
};

void ReadStatusText(Cursor& c, Response& r)
{
    c.SkipSpaces();
    if (c.Peek() == '[') {
        size_t close = c.Find(']');
        if (close != std::string_view::npos) {
            r.code.assign(c.From(c.Pos() + 1, close - c.Pos() - 1));
            c.Advance(close - c.Pos() + 1);
            c.SkipSpaces();
        }
    }
    r.text.assign(c.Rest());
}

bool IsStatus(std::string_view upper)
{
    return upper == "OK" || upper == "NO" || upper == "BAD" || upper == "PREAUTH" || upper == "BYE";
}

} // namespace

bool Value::Is(std::string_view atom) const
{
    return kind == Kind::Atom && text.size() == atom.size() &&
           std::equal(text.begin(), text.end(), atom.begin(), [](char a, char b) { return Upper(a) == Upper(b); });
}

std::optional<uint64_t> Value::Number() const
{
    if (kind != Kind::Atom) return std::nullopt;
    return Digits(text);
}

std::string Response::CodeName() const { return UpperCase(std::string_view(code).substr(0, code.find(' '))); }

std::string_view Response::CodeArgument() const
{
    size_t space = code.find(' ');
    return space == std::string::npos ? std::string_view() : std::string_view(code).substr(space + 1);
}

std::vector<std::string> CapabilitiesIn(const Response& r)
{
    std::vector<std::string> out;
    if (r.name == "CAPABILITY") {
        for (const Value& v : r.items)
            if (v.kind == Value::Kind::Atom && !v.text.empty()) out.push_back(UpperCase(v.text));
    } else if (!r.status.empty() && r.CodeName() == "CAPABILITY") {
        std::string_view rest = r.CodeArgument();
        while (!rest.empty()) {
            size_t end = std::min(rest.find(' '), rest.size());
            if (end > 0) out.push_back(UpperCase(rest.substr(0, end)));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    return out;
}

Response ParseResponse(std::string_view raw, int maxDepth, bool cut)
{
    Response r;
    r.cut = cut;
    Cursor c(raw, maxDepth, cut);
    if (c.Peek() == '+') {
        r.kind = Response::Kind::Continuation;
        c.Advance(1);
        c.SkipSpaces();
        r.text.assign(c.Rest());
        return r;
    }
    std::string_view first = c.Word();
    if (first == "*") {
        r.kind = Response::Kind::Untagged;
    } else {
        r.kind = Response::Kind::Tagged;
        r.tag.assign(first);
        if (first.empty() || std::any_of(first.begin(), first.end(), [](char ch) {
                return IsControl(ch) || ch == '(' || ch == ')' || ch == '{' || ch == '"' || ch == '\\' || ch == '+';
            }))
            r.malformed = true;
    }
    c.SkipSpaces();
    std::string_view word = c.Word();
    if (r.kind == Response::Kind::Untagged && IsDigits(word)) {
        r.number = Digits(word);
        if (!r.number) r.malformed = true;
        c.SkipSpaces();
        word = c.Word();
    }
    std::string upper = UpperCase(word);
    if (IsStatus(upper) && !r.number) {
        r.status = upper;
        ReadStatusText(c, r);
        return r;
    }
    if (r.kind == Response::Kind::Tagged || word.empty()) {
        // A tagged response is always a status; anything else is noise.
        r.malformed = true;
        r.text.assign(c.Rest());
        return r;
    }
    r.name = upper;
    const bool nameOk = std::all_of(upper.begin(), upper.end(), [](char ch) {
        return (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' || ch == '_' || ch == '=';
    });
    if (!nameOk || !c.Items(r.items, 0, false)) r.malformed = true;
    return r;
}

void ResponseReader::Feed(std::string_view bytes)
{
    while (!bytes.empty() && !Broken()) {
        if (inLiteral_) {
            size_t keep = std::min(bytes.size(), literalRoom_);
            current_.append(bytes.substr(0, keep));
            bytes.remove_prefix(keep);
            literalRoom_ -= keep;
            literalLeft_ -= keep;
            if (literalRoom_ > 0) continue;
            if (literalLeft_ > 0) {
                Cut();
                return;
            }
            inLiteral_ = false;
            segmentStart_ = current_.size();
            continue;
        }
        size_t eol = bytes.find('\n');
        size_t take = eol == std::string_view::npos ? bytes.size() : eol;
        lineBytes_ += take + (eol == std::string_view::npos ? 0 : 1);
        if (lineBytes_ > bounds_.line) {
            error_ = "a response line over the bound of " + std::to_string(bounds_.line) + " bytes";
            return;
        }
        if (current_.size() + take > bounds_.response) {
            error_ = "a response over the bound of " + std::to_string(bounds_.response) + " bytes";
            return;
        }
        current_.append(bytes.substr(0, take));
        bytes.remove_prefix(eol == std::string_view::npos ? bytes.size() : eol + 1);
        if (eol != std::string_view::npos) EndOfLine();
    }
}

void ResponseReader::EndOfLine()
{
    if (current_.size() > segmentStart_ && current_.back() == '\r') current_.pop_back();
    auto size = LiteralMarker(std::string_view(current_).substr(segmentStart_));
    if (!size) {
        if (current_.empty()) return; // a blank line says nothing
        Deliver(/*cut=*/false);
        return;
    }
    current_ += "\r\n";
    size_t room = bounds_.response > current_.size() ? bounds_.response - current_.size() : 0;
    literalSize_ = *size;
    literalLeft_ = *size;
    literalRoom_ = std::min({*size, bounds_.literal, room});
    inLiteral_ = true;
    if (literalLeft_ == 0) {
        inLiteral_ = false;
        segmentStart_ = current_.size();
    } else if (literalRoom_ == 0) {
        Cut();
    }
}

void ResponseReader::Cut()
{
    const bool literalTooLong = literalSize_ > bounds_.literal;
    Deliver(/*cut=*/true);
    error_ = literalTooLong ? "a literal over the bound of " + std::to_string(bounds_.literal) + " bytes"
                            : "a response over the bound of " + std::to_string(bounds_.response) + " bytes";
}

void ResponseReader::Deliver(bool cut)
{
    ready_.push_back(ParseResponse(current_, bounds_.depth, cut));
    current_.clear();
    segmentStart_ = 0;
    lineBytes_ = 0;
    inLiteral_ = false;
}

std::optional<Response> ResponseReader::Next()
{
    if (ready_.empty()) return std::nullopt;
    Response r = std::move(ready_.front());
    ready_.pop_front();
    return r;
}

} // namespace maillib::imap
