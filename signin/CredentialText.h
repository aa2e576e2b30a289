// How the program words a missing credential for the user: the tray, the log, the dialog.
#pragma once

#include "maillib/Credential.h"

#include <QString>

namespace signin {

// e.g. 「鍵束がロックされています」; empty for Fault::None. `providerName` names the provider
// for NoClientId (「OAuth2」 when empty).
QString FaultText(maillib::Credential::Fault fault, const QString& providerName = QString());

} // namespace signin
