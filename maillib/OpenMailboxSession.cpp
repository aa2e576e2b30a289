#include "maillib/ImapMailbox.h"
#include "maillib/MailboxSession.h"
#include "maillib/Pop3Mailbox.h"
#include "maillib/Pop3Session.h"

namespace maillib {

// POP3 over libcurl (plain, STLS or TLS), or read-only IMAP over a connection curl opens.
std::unique_ptr<MailboxSession> OpenMailboxSession(const SessionOptions& options)
{
    if (options.server.protocol == ServerAddress::Protocol::Imap) return MakeImapMailbox(options);
    return MakePop3Mailbox(MakeCurlSession(options), options);
}

} // namespace maillib
