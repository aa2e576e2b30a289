#include "maillib/MailboxSession.h"
#include "maillib/Pop3Mailbox.h"
#include "maillib/Pop3Session.h"

namespace maillib {

// Every server form so far is POP3's: plain, STLS or TLS, over libcurl.
std::unique_ptr<MailboxSession> OpenMailboxSession(const SessionOptions& options)
{
    return MakePop3Mailbox(MakeCurlSession(options), options);
}

} // namespace maillib
