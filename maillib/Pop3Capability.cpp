#include "maillib/Pop3Capability.h"

#include <algorithm>
#include <string>

namespace maillib {

std::optional<long> LoginDelayFromCapability(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
    constexpr std::string_view kName = "LOGIN-DELAY ";
    if (line.size() <= kName.size()) return std::nullopt;
    for (size_t i = 0; i < kName.size(); ++i) {
        char c = line[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (c != kName[i]) return std::nullopt;
    }
    std::string_view rest = line.substr(kName.size());
    // The figure, then an optional scope word (RFC 2449: "USER" when it varies by user).
    const size_t end = rest.find(' ');
    std::string_view digits = rest.substr(0, end);
    if (end != std::string_view::npos) {
        std::string_view word = rest.substr(end + 1);
        if (word.empty() || word.find_first_of(" \t") != std::string_view::npos) return std::nullopt;
    }
    if (digits.empty() || digits.size() >= 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return std::min(std::stol(std::string(digits)), kMaxLoginDelaySeconds);
}

} // namespace maillib
