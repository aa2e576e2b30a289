// The IMAP dialogue of a check: a MailboxSession over one read-only connection. The mailbox is
// asked with STATUS (count, UIDNEXT, UIDVALIDITY), listed with EXAMINE and UID SEARCH, and its
// mails fetched with BODY.PEEK, several per command. Ids are "UIDVALIDITY.UID". While an IDLE
// watcher of the same account is healthy, the summary is its word and nothing is sent.
#pragma once

#include "maillib/MailboxSession.h"

#include <memory>

namespace maillib {

std::unique_ptr<MailboxSession> MakeImapMailbox(const SessionOptions& options);

} // namespace maillib
