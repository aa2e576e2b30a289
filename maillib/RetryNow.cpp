#include "maillib/AccountCheck.h"
#include "maillib/AccountRegistry.h"
#include "maillib/Charset.h"
#include "maillib/MailLib.h"

namespace maillib {

void RetryNow(const std::string& server, const std::string& user)
{
    auto address = ParseServer(charset::Trim(server));
    if (!address) return;
    auto state = FindAccount(AccountKey(*address, charset::Trim(user)));
    if (!state) return; // never checked: nothing to wait for
    // Waits for a check of the account in flight; the failure count stays, so a renewed
    // failure still backs off longer.
    std::lock_guard lock(state->mutex);
    for (auto& [credentials, backoff] : state->backoffs) backoff.retryAt = {};
    state->loginAllowedAt = {};
    state->loginDelayRefused = false;
}

} // namespace maillib
