#pragma once
#include <functional>

// Hands SIGTERM, SIGINT and SIGHUP (a logout, say) to `onSignal` on the GUI thread, so that
// the program leaves as it does from its menu: check cancelled, tray icon removed, mail
// cache emptied. Without a handler the event loop simply ends.
void QuitOnTerminationSignals(std::function<void()> onSignal = {});
