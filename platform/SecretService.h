// The desktop's Secret Service (GNOME Keyring, KeePassXC) seen over D-Bus, without ever
// prompting: whether one answers, and whether its default collection is locked.
#pragma once

namespace SecretService {

enum class State {
    Absent,   // no Secret Service and no KWallet on the session bus
    Locked,   // the default collection is locked
    Unlocked, // the default collection is open (or there is none yet: a write creates it)
    Other,    // no Secret Service, but a KWallet answers; its own dialogs handle locking
};

// Blocking for at most `timeoutMs`; any thread.
State Probe(int timeoutMs = 5000);

// Asks the Secret Service to show its unlock prompt for the default collection and returns
// at once: the answer comes as the collection's Locked state at a later Probe.
void RequestUnlock();

} // namespace SecretService
