// Opens an address in the user's web browser: the commands in $BROWSER (colon-separated,
// "%s" standing for the address) when set, else the desktop's opener (xdg-open, gio).
// The address is one argument of its own, never read by a shell.
#pragma once

#include <QString>

namespace BrowserOpener {

// True when a browser command was started; `how` names it (never the address).
bool Open(const QString& url, QString* how = nullptr);

} // namespace BrowserOpener
