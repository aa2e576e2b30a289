#pragma once
#include "MailLib.h"

// The mail library as the check cycle sees it; tests script it.
class MailLibrary {
public:
    virtual ~MailLibrary() = default;
    virtual maillib::MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                                      std::string& folder) = 0;
    virtual maillib::MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder) = 0;
};

class RealMailLibrary final : public MailLibrary {
public:
    maillib::MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                              std::string& folder) override
    {
        return maillib::RcvMail(server, user, password, mode, folder);
    }
    maillib::MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder) override
    {
        return maillib::ReadMail(mailRef, fieldList, folder);
    }
};
