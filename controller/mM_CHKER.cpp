#include "controller/mM_CHKER.h"

#include "platform/Clock.h"

namespace mM_CHKER {
namespace {
QDateTime nowWholeSeconds()
{
    QDateTime now = Clock::current().now();
    const QTime t = now.time();
    now.setTime(QTime(t.hour(), t.minute(), t.second()));
    return now;
}
} // namespace

QString SlotText(const MailTable& table, qint64 slot)
{
    if (slot < 0 || slot > kLastSlot) return {};
    return table[static_cast<std::size_t>(slot)];
}

void SetCloseTimeFromNow(int seconds) { CloseTime = nowWholeSeconds().addSecs(seconds); }

QString CloseTimeText() { return CloseTime.isValid() ? CloseTime.toString(QStringLiteral("HH:mm:ss")) : QString(); }

bool CloseTimeReached() { return CloseTime.isValid() && nowWholeSeconds() >= CloseTime; }

void ResetForTests()
{
    for (MailTable* t : {&MailSubject, &MailFrom, &MailTime, &MailAccount, &MailBody}) t->fill(QString());
    MailIndex = MailCount = ExtraCount = PageOffset = 0;
    AccountName.fill(QString());
    StackTop.reset();
    CloseTime = QDateTime();
    TrayIcon = NotifyIconData();
}

} // namespace mM_CHKER
