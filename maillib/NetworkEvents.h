// What the program tells the library about the machine's network and sleep, and what a
// connection that lives across checks reads back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace maillib {

// The network came back or changed. Accounts backing off because they could not connect or
// timed out are tried at their next check, their back-off forgotten; a refused login or an
// untrusted certificate keeps its back-off, as a new route makes neither right. An account
// being checked right now is left to that check. Returns how many accounts it frees.
std::size_t RetryUnreachableAccounts();

// The machine woke from sleep: no connection open now is to be trusted, however it looks.
// The transfers on them fail at once instead of waiting out their time-out; the checks that
// start afterwards connect anew.
void DropOpenConnections();

// Counts the calls to the two functions above. A connection that lives across checks (an
// IMAP IDLE watcher) notes the count when it connects and connects again once it has moved.
std::uint64_t NetworkGeneration();

} // namespace maillib
