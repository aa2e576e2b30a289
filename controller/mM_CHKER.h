#pragma once
#include <QDateTime>
#include <QIcon>
#include <QString>
#include <array>
#include <optional>

// State shared by the controller and the notification windows: the tables of the last mail
// check, the counters, the header's position and the close time.
namespace mM_CHKER {

constexpr int kLastSlot = 100; // slots 1..100 hold mails; slot 0 is never used
using MailTable = std::array<QString, kLastSlot + 1>;

inline MailTable MailSubject; // "Subject:" + first 12 characters of the subject
inline MailTable MailFrom;    // "From: " + first 26 characters of the sender
inline MailTable MailTime;    // "Time: MM/DD HH:MM:SS", also the day-log key
inline MailTable MailAccount; // account label "1".."5"
inline MailTable MailBody;    // the mail text for the detail window

inline qint32 MailIndex = 0;  // slot of the mail stored last
inline qint32 MailCount = 0;  // mails all accounts returned in the last check
inline qint32 ExtraCount = 0; // mails beyond the five cards
inline qint32 PageOffset = 0; // card k shows slot PageOffset + k

// Display names of accounts 1..5 (index 0 unused), as the controller read them at start.
inline std::array<QString, 6> AccountName;

// The header strip's top in whole twips; unset until a stack is first opened.
inline std::optional<qint64> StackTop;

// When the notification windows close by themselves. Kept as a date-time so that a close
// time past midnight is not taken as already reached; CloseTimeText() gives "hh:mm:ss".
inline QDateTime CloseTime;

// The notification-area icon record, filled at every check.
struct NotifyIconData {
    quintptr window = 0; // the resident object that owns the icon
    QIcon icon;
    QString tip; // "Ferrowick", then the accounts' state
};
inline NotifyIconData TrayIcon;

// The table text of `slot`, or empty for a slot outside 0..100.
QString SlotText(const MailTable& table, qint64 slot);

// CloseTime := now (whole seconds) + `seconds`.
void SetCloseTimeFromNow(int seconds);
QString CloseTimeText();
// True once the current time (whole seconds) has reached CloseTime.
bool CloseTimeReached();

void ResetForTests();

} // namespace mM_CHKER
