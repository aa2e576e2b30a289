#pragma once
#include <QString>

// The desktop's default mail program: the application registered for "mailto" links.
namespace MailtoHandler {

// Identifier of the registered application (its desktop-file id), or empty when none is
// registered or its program does not exist.
QString Find();

// Starts the application with no URI and no shell. False when `id` names nothing startable.
bool Launch(const QString& id, QString* error = nullptr);

} // namespace MailtoHandler
