// SHA-256 in hex, for names and identities that must not carry what a server sent.
#pragma once

#include <glib.h>

#include <string>
#include <string_view>

namespace maillib {

inline std::string Sha256Hex(std::string_view data)
{
    gchar* s =
        g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(data.data()), data.size());
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

} // namespace maillib
