#include "maillib/UidList.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace maillib {
namespace {

constexpr size_t kFirstChunkBytes = 1u << 10;
constexpr size_t kChunkBytes = 1u << 20;

uint64_t HashOf(std::string_view s)
{
    // FNV-1a: stable, and equal ids are compared in full anyway.
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

} // namespace

UidList::Entry UidList::Store(unsigned long number, std::string_view id)
{
    if (chunks_.empty() || chunks_.back().size() + id.size() > chunks_.back().capacity()) {
        // Small mailboxes stay small; big ones grow in chunks that are never moved.
        const size_t next = chunks_.empty() ? kFirstChunkBytes : std::min(kChunkBytes, chunks_.back().capacity() * 2);
        chunks_.emplace_back();
        chunks_.back().reserve(std::max(next, id.size()));
    }
    std::string& chunk = chunks_.back();
    Entry e{static_cast<uint32_t>(number), static_cast<uint32_t>(chunks_.size() - 1),
            static_cast<uint32_t>(chunk.size()), static_cast<uint32_t>(id.size())};
    chunk.append(id);
    return e;
}

void UidList::Add(unsigned long number, std::string_view id) { entries_.push_back(Store(number, id)); }

std::string_view UidList::Id(size_t i) const
{
    const Entry& e = entries_[i];
    return std::string_view(chunks_[e.chunk]).substr(e.offset, e.length);
}

void UidList::Finish()
{
    // A number listed again: the first entry stays.
    {
        std::vector<uint32_t> order(entries_.size());
        for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return entries_[a].number < entries_[b].number; });
        std::vector<bool> drop(entries_.size(), false);
        for (size_t k = 1; k < order.size(); ++k)
            if (entries_[order[k]].number == entries_[order[k - 1]].number) drop[order[k]] = true;
        size_t out = 0;
        for (size_t i = 0; i < entries_.size(); ++i)
            if (!drop[i]) entries_[out++] = entries_[i];
        entries_.resize(out);
        entries_.shrink_to_fit();
    }
    // An id listed again gets the suffix of its occurrence, in server order. A suffixed id
    // may meet one the server sent itself ("a\x1f2"): then the later one is suffixed again,
    // and what still repeats after a few rounds is dropped. No two mails share an id.
    int round = 0;
    while (RenameRepeats(round == 4)) ++round;
}

bool UidList::RenameRepeats(bool dropInstead)
{
    byHash_.clear();
    byHash_.reserve(entries_.size());
    for (uint32_t i = 0; i < entries_.size(); ++i) byHash_.emplace_back(HashOf(Id(i)), i);
    std::sort(byHash_.begin(), byHash_.end());
    std::vector<uint32_t> repeats; // entries renamed (or to drop)
    for (size_t k = 0; k < byHash_.size();) {
        size_t end = k + 1;
        while (end < byHash_.size() && byHash_[end].first == byHash_[k].first) ++end;
        if (end - k > 1) {
            // Equal ids next to each other, each run in server order.
            std::vector<uint32_t> group;
            for (size_t a = k; a < end; ++a) group.push_back(byHash_[a].second);
            std::sort(group.begin(), group.end(), [&](uint32_t a, uint32_t b) {
                const int c = Id(a).compare(Id(b));
                return c != 0 ? c < 0 : a < b;
            });
            std::string previous(Id(group[0]));
            int seen = 1;
            for (size_t g = 1; g < group.size(); ++g) {
                std::string id(Id(group[g]));
                seen = id == previous ? seen + 1 : 1;
                if (seen > 1) {
                    repeats.push_back(group[g]);
                    if (!dropInstead) {
                        Entry& e = entries_[group[g]];
                        e = Store(e.number, id + "\x1f" + std::to_string(seen));
                    }
                }
                previous = std::move(id);
            }
        }
        k = end;
    }
    if (repeats.empty()) return false;
    if (dropInstead) {
        std::vector<bool> drop(entries_.size(), false);
        for (uint32_t i : repeats) drop[i] = true;
        size_t out = 0;
        for (size_t i = 0; i < entries_.size(); ++i)
            if (!drop[i]) entries_[out++] = entries_[i];
        entries_.resize(out);
        RenameRepeats(false); // rebuilds the index; nothing repeats any more
        return false;
    }
    return true;
}

bool UidList::Contains(std::string_view id) const
{
    const uint64_t h = HashOf(id);
    auto it = std::lower_bound(byHash_.begin(), byHash_.end(), std::make_pair(h, uint32_t(0)));
    for (; it != byHash_.end() && it->first == h; ++it)
        if (Id(it->second) == id) return true;
    return false;
}

UidList UidList::Newest(size_t window) &&
{
    if (window < entries_.size()) return std::as_const(*this).Newest(window);
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.number > b.number; });
    RenameRepeats(false); // only rebuilds the index: numbers and ids are unique already
    return std::move(*this);
}

UidList UidList::Newest(size_t window) const&
{
    std::vector<uint32_t> order(entries_.size());
    std::iota(order.begin(), order.end(), 0u);
    const size_t n = std::min(window, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(n), order.end(),
                      [&](uint32_t a, uint32_t b) { return entries_[a].number > entries_[b].number; });
    UidList out;
    for (size_t k = 0; k < n; ++k) out.Add(entries_[order[k]].number, Id(order[k]));
    out.Finish(); // indexes them; numbers and ids are unique already
    return out;
}

} // namespace maillib
