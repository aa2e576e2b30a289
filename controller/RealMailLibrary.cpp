#include "controller/RealMailLibrary.h"

#include "maillib/MailboxWatch.h"
#include "maillib/NetworkEvents.h"
#include "platform/SecretService.h"
#include "signin/CredentialSource.h"

#include <QtConcurrent/QtConcurrentRun>

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

RealMailLibrary::~RealMailLibrary()
{
    if (sourceInstalled_) maillib::SetCredentialSource({});
    if (keyringProbing_) keyringProbe_.waitForFinished();
}

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

QStringList RealMailLibrary::UseCredentialSource(const QString& mailDir)
{
    QStringList warnings;
    maillib::SetCredentialSource(signin::MakeCredentialSource(signin::ProviderFilePath(mailDir), &warnings));
    sourceInstalled_ = true;
    return warnings;
}

void RealMailLibrary::Cancel()
{
    maillib::CancelChecks();
    // A check waiting on the keyring or a token endpoint ends as well.
    signin::CancelSignIns();
}

std::size_t RealMailLibrary::RetryUnreachable() { return maillib::RetryUnreachableAccounts(); }

void RealMailLibrary::DropOpenConnections() { maillib::DropOpenConnections(); }

bool RealMailLibrary::KeyringOpenAgain()
{
    // D-Bus may be slow: the probe runs on a worker, and its answer is taken at the next call.
    if (keyringProbing_) {
        if (!keyringProbe_.isFinished()) return false;
        keyringProbing_ = false;
        if (keyringProbe_.result()) return true;
    }
    keyringProbing_ = true;
    keyringProbe_ = QtConcurrent::run([] {
        const SecretService::State state = SecretService::Probe(2000);
        return state != SecretService::State::Locked && state != SecretService::State::Absent;
    });
    return false;
}

std::unique_ptr<AccountWatch> RealMailLibrary::Watch(const std::string& server, const std::string& user,
                                                     const std::string& password, const std::string& folder,
                                                     std::function<void()> changed)
{
    auto watch = maillib::MailboxWatch::Start(server, user, password, folder, std::move(changed));
    if (!watch) return nullptr;
    return std::make_unique<LibraryWatch>(std::move(watch));
}
