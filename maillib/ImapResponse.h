// IMAP server responses, read from the byte stream as it arrives: tagged and untagged
// responses, continuations, quoted strings, literals (also split across reads) and
// parenthesised lists. Every part is bounded, so a server cannot make the reader grow
// without end; a literal over its bound is kept up to the bound and ends the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace maillib::imap {

struct Value {
    enum class Kind { Atom, String, Nil, List };
    Kind kind = Kind::Atom;
    std::string text;         // Atom and String (quoted or literal, unescaped)
    std::vector<Value> items; // List

    bool Is(std::string_view atom) const; // an atom, compared without case
    // An atom of 1 to 19 digits.
    std::optional<uint64_t> Number() const;
};

struct Response {
    enum class Kind { Tagged, Untagged, Continuation };
    Kind kind = Kind::Untagged;
    std::string tag;                // Tagged only
    std::string status;             // OK, NO, BAD, PREAUTH or BYE in upper case; empty for data
    std::string code;               // a status's bracketed code without the brackets, e.g. "UIDVALIDITY 7"
    std::string text;               // a status's or a continuation's free text
    std::optional<uint64_t> number; // "* 3 EXISTS": 3
    std::string name;               // data in upper case: EXISTS, FETCH, STATUS, SEARCH, CAPABILITY, ...
    std::vector<Value> items;       // what follows the name
    bool cut = false;               // a literal passed its bound: the response ends where reading stopped
    bool malformed = false;         // the data broke the grammar; items hold what came before

    // The code's first word in upper case ("UIDVALIDITY"), and what follows it ("7").
    std::string CodeName() const;
    std::string_view CodeArgument() const;
};

// The capabilities a response names, in upper case: "* CAPABILITY ..." or a status with a
// [CAPABILITY ...] code; empty for any other response.
std::vector<std::string> CapabilitiesIn(const Response& r);

struct ResponseBounds {
    size_t line = 64 * 1024;       // bytes outside literals, per response
    size_t literal = 256 * 1024;   // bytes of one literal
    size_t response = 1024 * 1024; // bytes of one response, literals included
    int depth = 16;                // nested lists
};

class ResponseReader {
public:
    explicit ResponseReader(ResponseBounds bounds = {}) : bounds_(bounds) {}

    // Takes the next bytes from the server, in any pieces. Ignored once broken.
    void Feed(std::string_view bytes);
    // The oldest complete response not yet taken.
    std::optional<Response> Next();
    bool HasResponse() const { return !ready_.empty(); }
    // A bound was passed: nothing more is read, and the connection should go. A response cut
    // at a literal's bound is still handed out by Next (with `cut` set) before this matters.
    bool Broken() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

private:
    void EndOfLine();
    void Deliver(bool cut);
    void Cut(); // a literal passed a bound: hands out what was read, and reads no more

    ResponseBounds bounds_;
    std::deque<Response> ready_;
    std::string current_;     // the response so far: its text, with "{n}\r\n" and the bytes of each literal
    size_t segmentStart_ = 0; // where the text after the last literal begins in current_
    size_t lineBytes_ = 0;    // bytes outside literals so far
    size_t literalLeft_ = 0;  // bytes of the literal still to come
    size_t literalRoom_ = 0;  // of which the bounds let us keep this many
    size_t literalSize_ = 0;  // as announced
    bool inLiteral_ = false;
    std::string error_;
};

// Parses one complete response (CRLF removed; literals as "{n}\r\n" and their bytes).
Response ParseResponse(std::string_view raw, int maxDepth, bool cut = false);

} // namespace maillib::imap
