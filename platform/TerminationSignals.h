#pragma once

// Ends the event loop on SIGTERM, SIGINT and SIGHUP (a logout, say), so that the program
// leaves as it does from its menu: tray icon removed, mail cache emptied.
void QuitOnTerminationSignals();
