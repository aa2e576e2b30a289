// What every curl handle of a check is set up with, POP3 or IMAP alike: the server and the
// credentials, TLS required unless plain text is spelled out, the certificate checked against
// the system's CAs and the receive folder's cacert.pem (both kept across checks, with the
// account's TLS sessions: TlsSessions.h), and an end when checks are cancelled.
#pragma once

#include "maillib/Pop3Session.h"

#include <curl/curl.h>

namespace maillib {

// `protocols`: curl's names of the schemes the handle may use, e.g. "pop3,pop3s".
// `errorBuffer`: CURL_ERROR_SIZE bytes that outlive the handle's transfers.
void SetTransportOptions(CURL* curl, const SessionOptions& options, const char* protocols, char* errorBuffer);

} // namespace maillib
