#include "maillib/SkippedMails.h"

#include "maillib/Log.h"

namespace maillib {

void SkippedMails::Add(unsigned long number, std::string id, const std::string& why)
{
    // Only the first few are kept: a listing may name thousands of messages that do not exist.
    if (lines_.size() <= kMaxLines)
        lines_.push_back({std::move(id), "message " + std::to_string(number) + " skipped: " + why});
    ++count_;
}

void SkippedMails::Report(const std::string& label, const std::string& user, std::set<std::string, std::less<>>& warned,
                          size_t& summary) const
{
    if (count_ > kMaxLines) {
        // A flood: one line, and again only when the count changes.
        if (summary != count_)
            internal::Report(label, user, std::to_string(count_) + " mails skipped, e.g. " + lines_.front().second);
        summary = count_;
        return;
    }
    summary = 0;
    for (const auto& [id, line] : lines_)
        if (warned.insert(id).second) internal::Report(label, user, line);
}

} // namespace maillib
