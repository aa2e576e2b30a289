// libFuzzer target: IMAP responses as they stream in, fed in pieces, with small bounds.
#include "maillib/ImapMailboxName.h"
#include "maillib/ImapResponse.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using maillib::imap::Response;
using maillib::imap::ResponseBounds;
using maillib::imap::ResponseReader;
using maillib::imap::Value;

constexpr ResponseBounds kBounds{256, 64, 512, 8};

// Checks the bounds of one value (a list at `depth` lists deep) and writes it out, so that
// two readings can be compared.
void Render(const Value& v, int depth, std::string& out)
{
    if ((v.kind == Value::Kind::List && depth > kBounds.depth) || v.text.size() > kBounds.response) std::abort();
    out += static_cast<char>('0' + static_cast<int>(v.kind));
    out += std::to_string(v.text.size()) + ":" + v.text;
    if (v.kind != Value::Kind::List && !v.items.empty()) std::abort();
    for (const Value& i : v.items) Render(i, depth + 1, out);
    out += ')';
}

std::string Read(std::string_view bytes, size_t piece)
{
    ResponseReader reader(kBounds);
    std::string out;
    bool sawCut = false;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        reader.Feed(bytes.substr(at, piece));
        while (auto r = reader.Next()) {
            // A cut response is the last one: nothing is read after it.
            if (sawCut) std::abort();
            sawCut = r->cut;
            if (r->cut && !reader.Broken()) std::abort();
            if (r->kind == Response::Kind::Tagged && r->tag.empty() && !r->malformed) std::abort();
            out += r->tag + "|" + r->status + "|" + r->code + "|" + r->text + "|" + r->name + "|" +
                   (r->number ? std::to_string(*r->number) : "-") + (r->cut ? "C" : "") + (r->malformed ? "M" : "");
            for (const Value& v : r->items) Render(v, 1, out);
            out += '\n';
        }
    }
    if (reader.Broken()) out += "broken " + reader.Error();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 17;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    // However the bytes are cut into reads, the responses are the same.
    if (Read(bytes, bytes.size() + 1) != Read(bytes, piece)) std::abort();
    // A mailbox name read back from the wire encodes to a name that reads back alike.
    if (auto name = maillib::imap::DecodeModifiedUtf7(bytes)) {
        auto wire = maillib::imap::EncodeModifiedUtf7(*name);
        if (wire && maillib::imap::DecodeModifiedUtf7(*wire) != name) std::abort();
    }
    return 0;
}
