#include "maillib/AccountRegistry.h"

#include <unistd.h>

namespace maillib {
namespace {

struct Registry {
    std::mutex mutex; // guards the map and the limits, never held during a check
    std::map<std::string, std::shared_ptr<AccountState>> accounts;
    internal::Limits limits;
};

Registry& Reg()
{
    static Registry r;
    return r;
}

} // namespace

void DropShadow(Cached& mail)
{
    if (!mail.shadow.empty()) ::unlink(mail.shadow.c_str());
    mail.shadow.clear();
}

std::shared_ptr<AccountState> AccountFor(const std::string& key)
{
    std::lock_guard lock(Reg().mutex);
    auto& slot = Reg().accounts[key];
    if (!slot) slot = std::make_shared<AccountState>();
    return slot;
}

std::shared_ptr<AccountState> FindAccount(const std::string& key)
{
    std::lock_guard lock(Reg().mutex);
    auto it = Reg().accounts.find(key);
    return it == Reg().accounts.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<AccountState>> AllAccounts()
{
    std::lock_guard lock(Reg().mutex);
    std::vector<std::shared_ptr<AccountState>> all;
    for (const auto& [key, st] : Reg().accounts) all.push_back(st);
    return all;
}

void ForgetAccounts(bool dropCopies)
{
    std::map<std::string, std::shared_ptr<AccountState>> gone;
    {
        std::lock_guard lock(Reg().mutex);
        gone.swap(Reg().accounts);
    }
    if (!dropCopies) return;
    // Waits for a check still running, whose state lives on until then.
    for (auto& [key, st] : gone) {
        std::lock_guard lock(st->mutex);
        for (auto& [id, mail] : st->mails) DropShadow(mail);
        st->mails.clear();
    }
}

namespace internal {

Limits GetLimits()
{
    std::lock_guard lock(Reg().mutex);
    return Reg().limits;
}

void SetLimits(const Limits& limits)
{
    std::lock_guard lock(Reg().mutex);
    Reg().limits = limits;
}

} // namespace internal
} // namespace maillib
