// libFuzzer target: a UIDL/LIST listing as it streams in, cut at any point.
#include "maillib/Pop3Listing.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

std::string Render(const maillib::UidList& list)
{
    std::string out;
    for (size_t i = 0; i < list.size(); ++i)
        out += std::to_string(list.Number(i)) + "=" + std::string(list.Id(i)) + "\n";
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const size_t cut = data[0] % size;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    maillib::UidList whole, pieces;
    maillib::SizeList sizes;
    {
        maillib::LineSplitter lines([&](std::string_view l) {
            maillib::AddUidlLine(whole, l);
            sizes.AddLine(l);
        });
        lines.Feed(bytes);
        lines.Finish();
    }
    {
        maillib::LineSplitter lines([&](std::string_view l) { maillib::AddUidlLine(pieces, l); });
        lines.Feed(bytes.substr(0, cut));
        lines.Feed(bytes.substr(std::min(cut, bytes.size())));
        lines.Finish();
    }
    whole.Finish();
    pieces.Finish();
    sizes.Finish();
    // Where the stream was cut does not matter.
    if (Render(whole) != Render(pieces)) std::abort();
    // Numbers and ids are unique, ids bounded, and each one is found again.
    std::set<unsigned long> numbers;
    std::set<std::string> ids;
    for (size_t i = 0; i < whole.size(); ++i) {
        std::string_view id = whole.Id(i);
        if (whole.Number(i) == 0 || !numbers.insert(whole.Number(i)).second || !ids.insert(std::string(id)).second)
            std::abort();
        if (id.empty() || id.size() > maillib::kMaxUidLength + 16 || !whole.Contains(id)) std::abort();
        if (!sizes.Listed(whole.Number(i))) std::abort(); // every UIDL line is a LIST line too
    }
    return 0;
}
