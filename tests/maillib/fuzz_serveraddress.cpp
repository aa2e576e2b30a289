// libFuzzer target: the server address a user types.
#include "maillib/ServerAddress.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto address = maillib::ParseServer(text, &error);
    if (!address) {
        if (error.empty()) std::abort(); // a refusal always says why
        return 0;
    }
    if (address->host.empty() || address->port < 1 || address->port > 65535) std::abort();
    // Nothing typed before an '@' or around a blank reaches a URL or a message; only a
    // mailbox name in the label may be more than ASCII.
    for (unsigned char c : address->Url())
        if (c <= ' ' || c == '@' || c >= 0x7F) std::abort();
    for (unsigned char c : address->Label())
        if (c <= ' ' || c == '@' || c == 0x7F) std::abort();
    if (address->protocol == maillib::ServerAddress::Protocol::Imap && address->mailbox.empty()) std::abort();
    // The label means the same server.
    auto again = maillib::ParseServer(address->Label());
    if (!again || again->host != address->host || again->port != address->port ||
        again->security != address->security || again->protocol != address->protocol ||
        again->mailbox != address->mailbox)
        std::abort();
    return 0;
}
