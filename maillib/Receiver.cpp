// The library's entry points: what a caller gives is checked, then the account is.
#include "maillib/AccountCheck.h"
#include "maillib/AccountRegistry.h"
#include "maillib/Cancellation.h"
#include "maillib/Charset.h"
#include "maillib/Digest.h"
#include "maillib/Log.h"
#include "maillib/MailLib.h"
#include "maillib/MailLibInternal.h"
#include "maillib/MailCache.h"
#include "maillib/MailReader.h"
#include "maillib/MailStore.h"
#include "maillib/PasswordMask.h"
#include "maillib/Pop3Session.h"
#include "maillib/ServerAddress.h"
#include "maillib/TlsSessions.h"

#include <cstdint>
#include <mutex>
#include <sys/stat.h>

namespace maillib {
namespace {

using internal::Report;
using internal::ReportOnce;
using Kind = AccountStatus::Kind;

// What of an unparsable server text may be shown: the host-like part, never what a user may
// have typed before an '@' or after a blank (a password, say).
std::string RedactServerText(const std::string& text)
{
    std::string shown = text.substr(0, text.find_first_of(" \t"));
    if (auto at = shown.rfind('@'); at != std::string::npos) {
        const auto scheme = shown.find("://");
        shown = (scheme != std::string::npos && scheme < at ? shown.substr(0, scheme + 3) : std::string()) +
                shown.substr(at + 1);
    }
    return charset::StripControls(shown, "");
}

bool HasLineBreakOrNul(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// The one line a status may show: no controls, no password, a bounded length.
std::string SafeText(const std::string& text, const std::string& user, const std::string& password)
{
    return SafeToShow(text, user, password, 300);
}

// What the caller gave is checked here, before anything goes out.
MailList CheckInputsThenAccount(std::string& server, std::string& user, std::string& password, std::string& mode,
                                std::string& folder, AccountStatus& status, size_t placeFirst)
{
    status = AccountStatus{};
    std::string serverText = charset::Trim(server);
    std::string userText = charset::Trim(user);
    if (serverText.empty() || userText.empty()) {
        status.text = "no server or no user";
        return std::nullopt; // an unconfigured account
    }
    if (internal::Cancelled()) {
        status.kind = Kind::Cancelled;
        status.text = "cancelled";
        return std::nullopt;
    }
    std::string error;
    auto address = ParseServer(serverText, &error);
    if (!address) {
        const std::string shown = RedactServerText(serverText);
        ReportOnce(shown, userText, error);
        status.kind = Kind::CannotConnect;
        status.text = shown + ": " + error;
        return std::nullopt;
    }
    const std::string label = address->Label() + " (user " + charset::StripDisplayControls(userText, "") + ")";
    // A line break would let a user name or password append POP3 commands of its own.
    if (HasLineBreakOrNul(userText) || HasLineBreakOrNul(password)) {
        const std::string why = "the user name or password contains a line break";
        ReportOnce(address->Label(), "", why);
        status.kind = Kind::LoginRefused;
        status.text = address->Label() + ": " + why;
        return std::nullopt;
    }
    if (charset::Trim(mode) != "SAVEALL") {
        Report(address->Label(), userText, "unsupported mode");
        status.kind = Kind::ServerError;
        status.text = label + ": unsupported mode";
        return std::nullopt;
    }
    std::string dir = charset::Trim(folder);
    struct stat st {};
    if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Report(address->Label(), userText, "the receive folder does not exist");
        status.kind = Kind::ServerError;
        status.text = label + ": the receive folder does not exist";
        return std::nullopt;
    }
    MailList refs = CheckAccount(*address, serverText, userText, password, dir, status, placeFirst);
    status.text = label + ": " + status.text;
    return refs;
}

} // namespace

namespace internal {

void ResetState()
{
    ForgetAccounts(/*dropCopies=*/true);
    KeepTlsSessionsOnlyOf({});
    ForgetCacheFolders();
    ForgetReported();
    ClearCancel();
}

void ForgetProcessState()
{
    ForgetAccounts(/*dropCopies=*/false);
    KeepTlsSessionsOnlyOf({});
    ForgetCacheFolders();
    ForgetReported();
    ClearCancel();
}

AccountStats StatsFor(const std::string& server, const std::string& user)
{
    AccountStats stats;
    auto address = ParseServer(server);
    if (!address) return stats;
    auto st = FindAccount(AccountKey(*address, charset::Trim(user)));
    if (!st) return stats;
    std::lock_guard lock(st->mutex);
    stats.cachedMails = st->mails.size();
    stats.cachedBytes = st->cachedBytes;
    // Those of the credentials last sent.
    if (auto bo = st->backoffs.find(st->lastFingerprint); bo != st->backoffs.end())
        stats.failures = bo->second.failures;
    return stats;
}

std::string MailIdHash(const std::string& accountKey, const std::string& uid)
{
    // Nothing the server sends reaches a path: names are hashes.
    std::string key = accountKey;
    key.push_back('\0');
    key += uid;
    return Sha256Hex(key).substr(0, 32);
}

std::string MailFileName(const std::string& accountKey, const std::string& uid)
{
    return "fw-" + MailIdHash(accountKey, uid) + ".txt";
}

} // namespace internal

void Initialise()
{
    InitCurlOnce();
    InitGMimeOnce();
}

MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder,
                 AccountStatus& status)
{
    return RcvMail(server, user, password, mode, folder, status, SIZE_MAX);
}

MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder,
                 AccountStatus& status, std::size_t placeFirst)
{
    try {
        Initialise();
        MailList refs = CheckInputsThenAccount(server, user, password, mode, folder, status, placeFirst);
        status.text = SafeText(status.text, charset::Trim(user), password);
        return refs;
    } catch (const std::exception& e) {
        internal::LogLine(std::string("maillib: check failed: ") + e.what());
        status = AccountStatus{};
        status.kind = Kind::ServerError;
        status.text = SafeText(std::string("check failed: ") + e.what(), charset::Trim(user), password);
        return std::nullopt;
    }
}

MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder)
{
    AccountStatus ignored;
    return RcvMail(server, user, password, mode, folder, ignored);
}

void KeepCachedMailsOnlyOf(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& accounts)
{
    std::vector<std::string> keys;
    for (const auto& [server, user] : accounts)
        if (auto address = ParseServer(charset::Trim(server)); address && !charset::Trim(user).empty())
            keys.push_back(AccountKey(*address, charset::Trim(user)));
    RemoveOtherAccounts(CacheRoot(charset::Trim(folder)), keys);
    KeepTlsSessionsOnlyOf(keys);
}

MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& /*folder*/)
{
    try {
        Initialise();
        return ReadMailFile(charset::Trim(mailRef), fieldList);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace maillib
