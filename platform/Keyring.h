// The desktop keyring through QtKeychain (Secret Service or KWallet): store, read and remove
// one secret by name. Every call blocks its caller for a bounded time and may come from any
// thread, including pool workers without an event loop: the keyring's own jobs run on one
// thread of their own. Never call it on the GUI thread; the dialog goes through a worker.
//
// A locked keyring is a status, not a prompt loop: the first locked answer of a program run
// asks the keyring to show its unlock prompt once, and every call until it is unlocked
// returns Locked without waiting for anyone.
#pragma once

#include <QString>
#include <chrono>

namespace Keyring {

enum class Status {
    Ok,
    NotFound,  // no item by that name
    Locked,    // the keyring is locked, or the user declined to unlock it
    NoService, // no keyring answers on the session bus
    TimedOut,
    Cancelled, // Cancel() was called
    Failed,    // anything else; `detail` says what, in the keyring's words
};

struct Result {
    Status status = Status::Failed;
    QString secret; // for Read
    QString detail; // never holds a secret
};

inline constexpr std::chrono::milliseconds kDefaultTimeout{10000};

// Items are labelled "Ferrowick: KEY"; the key names what the item is for, never the secret.
inline const QString kService = QStringLiteral("Ferrowick");

Result Read(const QString& key, std::chrono::milliseconds timeout = kDefaultTimeout);
Result Write(const QString& key, const QString& secret, std::chrono::milliseconds timeout = kDefaultTimeout);
// Removing an item that is not there is Ok.
Result Remove(const QString& key, std::chrono::milliseconds timeout = kDefaultTimeout);

// Whether a keyring answers at all; never prompts.
bool Available();

// Ends every wait at once with Cancelled, now and later: for ending the program.
void Cancel();

// How many unlock prompts this run has asked for (tests: never more than one).
int UnlockPromptsAsked();

} // namespace Keyring
