#include "controller/RealMailLibrary.h"

#include "maillib/MailboxWatch.h"
#include "maillib/NetworkEvents.h"

namespace {

class LibraryWatch final : public AccountWatch {
public:
    explicit LibraryWatch(std::unique_ptr<maillib::MailboxWatch> watch) : watch_(std::move(watch)) {}

private:
    std::unique_ptr<maillib::MailboxWatch> watch_;
};

} // namespace

// What the checks share is set up here, before any worker thread can start one.
RealMailLibrary::RealMailLibrary() { maillib::Initialise(); }

maillib::MailList RealMailLibrary::RcvMail(std::string& server, std::string& user, std::string& password,
                                           std::string& mode, std::string& folder, maillib::AccountStatus& status,
                                           std::size_t placeFirst)
{
    return maillib::RcvMail(server, user, password, mode, folder, status, placeFirst);
}

maillib::MailList RealMailLibrary::ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder)
{
    return maillib::ReadMail(mailRef, fieldList, folder);
}

void RealMailLibrary::KeepCachedMailsOnlyOf(const std::string& folder,
                                            const std::vector<std::pair<std::string, std::string>>& accounts)
{
    maillib::KeepCachedMailsOnlyOf(folder, accounts);
}

void RealMailLibrary::Cancel() { maillib::CancelChecks(); }

std::size_t RealMailLibrary::RetryUnreachable() { return maillib::RetryUnreachableAccounts(); }

void RealMailLibrary::DropOpenConnections() { maillib::DropOpenConnections(); }

std::unique_ptr<AccountWatch> RealMailLibrary::Watch(const std::string& server, const std::string& user,
                                                     const std::string& password, const std::string& folder,
                                                     std::function<void()> changed)
{
    auto watch = maillib::MailboxWatch::Start(server, user, password, folder, std::move(changed));
    if (!watch) return nullptr;
    return std::make_unique<LibraryWatch>(std::move(watch));
}
