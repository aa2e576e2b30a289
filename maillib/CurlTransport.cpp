#include "maillib/CurlTransport.h"

#include "maillib/Cancellation.h"
#include "maillib/TlsSessions.h"

namespace maillib {
namespace {

// A password goes as the protocol's login; a bearer token only through the SASL mechanisms
// made for it, so that a server offering neither never sees it as a password.
void SetCredentials(CURL* curl, const SessionOptions& options)
{
    curl_easy_setopt(curl, CURLOPT_USERNAME, options.user.c_str());
    if (!options.bearer) {
        curl_easy_setopt(curl, CURLOPT_PASSWORD, options.password.c_str());
        return;
    }
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, options.password.c_str());
    curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
}

// For a libcurl whose TLS is not OpenSSL's: curl loads the CA files at every connection.
void NameCaFiles(CURL* curl, const SessionOptions& options)
{
    if (options.caFile.empty()) return;
    // CAINFO replaces the default bundle; the system's hashed directory (curl's default
    // CAPATH) keeps the public CAs trusted alongside.
    curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
    char* capath = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CAPATH, &capath);
    curl_easy_setopt(curl, CURLOPT_CAPATH, capath ? capath : "/etc/ssl/certs");
}

} // namespace

void SetTransportOptions(CURL* curl, const SessionOptions& options, const char* protocols, char* errorBuffer)
{
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, options.server.Url().c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    SetCredentials(curl, options);
    // STLS or STARTTLS is required unless plain text is spelled out: without it no password goes.
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     options.server.security == ServerAddress::Security::Plain ? static_cast<long>(CURLUSESSL_NONE)
                                                                               : static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!KeepTlsAcrossChecks(curl, options)) NameCaFiles(curl, options);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // Cancellation: the flag is looked at in every progress call, and CancelChecks shuts
    // down the sockets so that a transfer waiting on a silent server wakes at once.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &internal::TransferInfo);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &internal::OpenSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &internal::CloseSocket);
}

} // namespace maillib
