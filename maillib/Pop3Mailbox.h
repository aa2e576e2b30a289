// The POP3 dialogue of a check: a MailboxSession over the POP3 commands of a Pop3Session.
#pragma once

#include "maillib/MailboxSession.h"
#include "maillib/Pop3Session.h"

#include <memory>

namespace maillib {

std::unique_ptr<MailboxSession> MakePop3Mailbox(std::unique_ptr<Pop3Session> commands, const SessionOptions& options);

} // namespace maillib
