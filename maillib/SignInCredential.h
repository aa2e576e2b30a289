// The credential a connection signs in with, asked for anew before every connection: the
// password the settings give or, when that is empty, the program's credential source's answer
// (SetCredentialSource). A check and a push watcher both come here before they connect.
#pragma once

#include "maillib/Credential.h"
#include "maillib/MailboxSession.h"

#include <string>

namespace maillib {

// `serverText` and `user` as the settings give them, trimmed. `lastRefused`: the server
// refused the bearer token the last call gave for this connection.
Credential CredentialFor(const std::string& serverText, const std::string& user, const std::string& password,
                         bool lastRefused = false);

// Puts a password or a bearer token into `options`.
void SignInWith(SessionOptions& options, const Credential& credential);

// True when the secret cannot go in one protocol line: it holds a CR, LF or NUL.
bool BreaksLines(const Credential& credential);

// A fault in the log's words, e.g. "the keyring is locked".
std::string FaultWords(Credential::Fault fault);

} // namespace maillib
