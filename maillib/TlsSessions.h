// What a connection keeps from one check to the next, for POP3 and IMAP alike: the trusted
// certificates (TrustStore.h), the account's TLS sessions, so that the next connection
// resumes a session instead of making a new one, which spares the server's certificate and
// key exchange, and the server's addresses (for libcurl's usual minute), so that a check does
// not look its server's name up again. Nothing else is kept: every check still connects and
// logs in anew. A network change or a resume drops all of it.
//
// A kept session is as strict as the handshake that made it: it belongs to one account (server
// and user), so it is never offered to another host or port; and it is dropped when the trusted
// certificates change (a changed cacert.pem, say) and when a certificate it was verified with
// runs out.
#pragma once

#include "maillib/MailboxSession.h"

#include <curl/curl.h>

#include <string>
#include <vector>

namespace maillib {

// Sets up `curl`, before its first transfer, to check the server's certificate against the
// kept store and to resume the account's sessions. False when this libcurl cannot (its TLS is
// not OpenSSL's); the caller then names the CA files itself.
bool KeepTlsAcrossChecks(CURL* curl, const SessionOptions& options);

// Forgets the sessions of every account but `accountKeys` (see AccountKey).
void KeepTlsSessionsOnlyOf(const std::vector<std::string>& accountKeys);

} // namespace maillib
