#include "settings/ui/ConnectionTestLink.h"

#include "platform/TextUtil.h"
#include "settings/mReadINI.h"
#include "settings/ui/ClickLabel.h"
#include "settings/ui/ConnectionTest.h"
#include "settings/ui/DialogMessages.h"

ConnectionTestLink::ConnectionTestLink(ClickLabel* caption, std::function<Typed()> typed, QWidget* dialog)
    : QObject(dialog), caption_(caption), typed_(std::move(typed)), dialog_(dialog), tester_(new ConnectionTester(this))
{
    connect(caption_, &ClickLabel::clicked, this, &ConnectionTestLink::Start);
    connect(tester_, &ConnectionTester::Finished, this, [this](const ConnectionTest::Result& result) {
        caption_->setEnabled(true);
        DialogMessages::Inform(dialog_, DialogMessages::kTitle, ConnectionTest::Message(result));
    });
}

void ConnectionTestLink::Start()
{
    if (tester_->IsRunning()) return;
    caption_->setEnabled(false);
    const Typed account = typed_();
    // The user's own trusted certificates count here as they do for the resident's checks.
    tester_->Start(account.server, account.user, account.password,
                   TextUtil::TrimSpaces(mReadINI::MailDir) + QStringLiteral("/INI/cacert.pem"));
}
