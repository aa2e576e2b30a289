// libFuzzer target: ReadMail's parsing and decoding on arbitrary bytes.
#include "maillib/MailReader.h"

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool tz = [] { return setenv("TZ", "Asia/Tokyo", 1) == 0; }();
    (void)tz;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto list = maillib::FieldsToList(maillib::ParseMail(bytes), "subject:from:date:nofile:");
    if (!list || list->size() != 5) std::abort();
    for (const auto& e : *list) // everything handed to the program is valid UTF-8
        if (!g_utf8_validate(e.data(), static_cast<gssize>(e.size()), nullptr)) std::abort();
    return 0;
}
