// Mails a check leaves out because the server will not give them: each is said once, not at
// every check, and a flood of them as one line.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace maillib {

class SkippedMails {
public:
    void Add(unsigned long number, std::string id, const std::string& why);
    size_t Count() const { return count_; }
    // Says what was not said before; `warned` (ids) and `summary` (the flood's size when it was
    // last said) are what the account remembers between checks.
    void Report(const std::string& label, const std::string& user, std::set<std::string, std::less<>>& warned,
                size_t& summary) const;

private:
    static constexpr size_t kMaxLines = 10;
    std::vector<std::pair<std::string, std::string>> lines_; // (id, warning) of this check
    size_t count_ = 0;
};

} // namespace maillib
