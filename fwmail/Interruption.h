// Ctrl+C, SIGTERM or SIGHUP while fwmail works in its temporary folder: the check is
// cancelled and returns, the folder is removed as after any check, and only then does the
// process end by that signal, as the shell expects.
#pragma once

namespace fwmail {

// Holds the signals back from now on and watches for them on a thread of its own. Call it
// before anything starts a thread, so that every thread holds them back too.
void WatchInterruptions();

// The signal that came since, or 0.
int InterruptingSignal();

// Ends the process by the signal that came; returns when none came.
void EndIfInterrupted();

} // namespace fwmail
