#pragma once
#include "maillib/MailLib.h"

#include <QString>

// How the program words an account's check result for the user: the tray, the log and the
// settings dialog's connection test all say it the same way.
namespace AccountStatusText {

// The reason an account fails, e.g. 「サーバーに接続できません」; for Waiting 「待機中（HH:MM に再試行）」
// in local time. Empty for Ok, NotConfigured and Cancelled, which are no failure.
QString Reason(const maillib::AccountStatus& status);

// True for the kinds Reason words.
bool IsFailure(maillib::AccountStatus::Kind kind);

// The library's own detail made safe to show on one line (TextUtil::OneLine), and cut at
// 300 characters.
QString Detail(const maillib::AccountStatus& status);

// The account as the user named it, or 「アカウント①」..「アカウント⑤」 when the name is empty.
QString AccountLabel(int number, const QString& name);

} // namespace AccountStatusText
