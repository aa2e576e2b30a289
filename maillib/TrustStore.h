// The certificates a server's is checked against: the system's CAs, as libcurl would load them,
// and the receive folder's cacert.pem when there is one. Parsing them is most of what a
// connection would otherwise spend on its certificate check (the system's bundle alone takes
// about 20 ms), so the store is built once and shared by every connection, and built again
// when one of its files changes on disk.
#pragma once

#include <openssl/x509_vfy.h>

#include <memory>
#include <string>

namespace maillib {

struct StoreRelease {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using StoreRef = std::unique_ptr<X509_STORE, StoreRelease>;

struct TrustedCertificates {
    StoreRef store;           // null when a file would not load: no server is trusted then
    unsigned long generation; // moves whenever the store is built anew
};

// The store for `caFile` (empty: the system's CAs alone), a reference of the caller's own. The
// store is not changed after this: connections of any thread may share it.
TrustedCertificates CurrentTrust(const std::string& caFile);

} // namespace maillib
