#pragma once
#include "controller/MailLibrary.h"

// The mail library itself.
class RealMailLibrary final : public MailLibrary {
public:
    RealMailLibrary();
    maillib::MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                              std::string& folder, maillib::AccountStatus& status, std::size_t placeFirst) override;
    maillib::MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder) override;
    void KeepCachedMailsOnlyOf(const std::string& folder,
                               const std::vector<std::pair<std::string, std::string>>& accounts) override;
    void Cancel() override;
    std::size_t RetryUnreachable() override;
    void DropOpenConnections() override;
    std::unique_ptr<AccountWatch> Watch(const std::string& server, const std::string& user, const std::string& password,
                                        const std::string& folder, std::function<void()> changed) override;
};
