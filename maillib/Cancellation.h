// Ending every check at once: a process-wide flag, and the sockets of the transfers in
// flight, which CancelChecks shuts down so that no transfer sleeps on until its timeout.
#pragma once

#include <curl/curl.h>

namespace maillib::internal {

bool Cancelled();
void ClearCancel(); // tests only

// Shuts down every socket curl has open now, so that the transfers on them fail at once;
// later transfers are not affected.
void ShutDownOpenSockets();

// curl's open/close socket callbacks (CURLOPT_OPENSOCKETFUNCTION, CURLOPT_CLOSESOCKETFUNCTION)
// and its transfer-info callback (CURLOPT_XFERINFOFUNCTION), which aborts once cancelled.
curl_socket_t OpenSocket(void* clientp, curlsocktype purpose, curl_sockaddr* address);
int CloseSocket(void* clientp, curl_socket_t socket);
int TransferInfo(void* clientp, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

} // namespace maillib::internal
