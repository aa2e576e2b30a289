// Ferrowick mail library: fetches an account's mails over POP3 or IMAP into files
// (RcvMail) and reads the fields the program shows from one file (ReadMail).
// Neither function throws. RcvMail never changes the server (no DELE, no RETR).
//
// Threads: RcvMail may run for several accounts at once, one thread each. Call
// Initialise() once before the first thread starts.
#pragma once

#include "maillib/Credential.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace maillib {
// std::nullopt stands for "not an array": no mail / unreadable.
using MailList = std::optional<std::vector<std::string>>;

// How an account fared in its last check.
struct AccountStatus {
    enum class Kind {
        Ok,
        NotConfigured, // no server or no user: nothing was tried
        CertificateNotTrusted,
        LoginRefused,
        NoCredential, // nothing to sign in with (see fault); the server was not asked
        CannotConnect,
        TimedOut,
        ServerError, // the server answered, but not as it should
        NoStls,      // STLS is required and the server does not offer or refuses it
        Waiting,     // backing off, or the server's LOGIN-DELAY; see waitUntil
        Cancelled,   // CancelChecks() stopped it
        DiskFull,    // the mails could not be placed: no space left in the receive folder
        NoMailbox,   // IMAP: the server has no mailbox of the name the server text gives
    };
    Kind kind = Kind::NotConfigured;
    // One line, safe to show: never a password, no control characters.
    std::string text;
    // For Waiting: when the account will be tried again.
    std::chrono::system_clock::time_point waitUntil{};
    // For NoCredential: why the credential source had nothing.
    Credential::Fault fault = Credential::Fault::None;
};

// All texts UTF-8. The in-out references are left unchanged by the library.
// The list has one entry per mail, newest first (the server's highest message number first):
// the path of a file placed in the folder. A mail's file keeps its name from check to check,
// and no other mail of any account gets that name.
MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder);
// The same check; `status` says how it went.
MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder,
                 AccountStatus& status);
// The same check for a caller that reads only the newest `placeFirst` mails: only they are
// fetched and placed, and only they are kept in the cache. The list still has one entry per
// mail (its size is the mail count), but past the placed files come empty strings: nothing
// is asked of the server or made for those mails. The overloads above place every mail.
MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode, std::string& folder,
                 AccountStatus& status, std::size_t placeFirst);
MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string& folder);

// Mails fetched are kept, per account, in a private cache folder in the receive folder, so
// that a restart need not fetch them again. This removes the copies of every account but
// `accounts` ((server, user) as given to RcvMail), e.g. of accounts no longer configured, and
// the TLS sessions kept for the others. Call it before the checks of `folder` start.
void KeepCachedMailsOnlyOf(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& accounts);

// Ends the wait the account (server and user as given to RcvMail) is in, the back-off after a
// failure or the server's login delay, so that its next check asks the server at once. For a
// check the user asked for; a check that then succeeds ends the wait for later checks as well.
void RetryNow(const std::string& server, const std::string& user);

// Sets up what all checks share (curl, GMime). Idempotent; call before the first worker.
void Initialise();

// Aborts every transfer in flight within about 100 ms; checks started afterwards fail at
// once with Kind::Cancelled. For ending the program: there is no way back.
void CancelChecks();

// Where the library's warning lines go (one line each, no newline); stderr when unset.
// Called from the checking threads, one line at a time; the sink must not call the library.
void SetLogSink(std::function<void(const std::string&)> sink);
} // namespace maillib
