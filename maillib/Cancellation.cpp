#include "maillib/Cancellation.h"

#include "maillib/MailLib.h"

#include <atomic>
#include <mutex>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace maillib {
namespace {

std::atomic<bool> g_cancelled{false};

// The sockets curl has open. A socket is closed under the same lock, so CancelChecks never
// shuts down a descriptor number that was already reused for something else.
struct Sockets {
    std::mutex mutex;
    std::set<curl_socket_t> open;
};

Sockets& Live()
{
    static Sockets s;
    return s;
}

} // namespace

void CancelChecks()
{
    g_cancelled.store(true);
    // curl sleeps up to a second between its progress calls; a shut-down socket wakes it now.
    internal::ShutDownOpenSockets();
}

namespace internal {

void ShutDownOpenSockets()
{
    std::lock_guard lock(Live().mutex);
    for (curl_socket_t s : Live().open) ::shutdown(s, SHUT_RDWR);
}

bool Cancelled() { return g_cancelled.load(); }

void ClearCancel() { g_cancelled.store(false); }

curl_socket_t OpenSocket(void*, curlsocktype, curl_sockaddr* address)
{
    std::lock_guard lock(Live().mutex);
    if (g_cancelled.load()) return CURL_SOCKET_BAD;
    curl_socket_t s = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (s != CURL_SOCKET_BAD) Live().open.insert(s);
    return s;
}

int CloseSocket(void*, curl_socket_t socket)
{
    std::lock_guard lock(Live().mutex);
    Live().open.erase(socket);
    return ::close(socket);
}

int TransferInfo(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return g_cancelled.load() ? 1 : 0; }

} // namespace internal
} // namespace maillib
