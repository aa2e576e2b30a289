// libFuzzer target: the LOGIN-DELAY capability line.
#include "maillib/Pop3Capability.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view line(reinterpret_cast<const char*>(data), size);
    auto delay = maillib::LoginDelayFromCapability(line);
    if (!delay) return 0;
    if (*delay < 0 || *delay > maillib::kMaxLoginDelaySeconds) std::abort();
    if (size < 12 || (line[0] != 'L' && line[0] != 'l')) std::abort();
    return 0;
}
