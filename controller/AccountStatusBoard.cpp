#include "controller/AccountStatusBoard.h"

#include "controller/AccountStatusText.h"

using Kind = maillib::AccountStatus::Kind;

namespace {

QDateTime localTime(std::chrono::system_clock::time_point at)
{
    if (at == std::chrono::system_clock::time_point{}) return {};
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
}

bool needsSignIn(const maillib::AccountStatus& status)
{
    return status.kind == Kind::NoCredential && status.fault == maillib::Credential::Fault::SignInNeeded;
}

} // namespace

AccountStatusBoard::AccountStatusBoard(QString programName) : programName_(std::move(programName)) {}

AccountStatusBoard::Changes AccountStatusBoard::Record(const QList<Check>& checks, const QDateTime& at)
{
    Changes changes;
    bool anyFinished = false;
    for (const Check& check : checks) {
        const Kind kind = check.status.kind;
        if (kind == Kind::Cancelled) continue;
        if (offline_ && (kind == Kind::CannotConnect || kind == Kind::TimedOut)) continue;
        anyFinished = true;
        if (kind == Kind::NotConfigured) {
            // An account the user removed or never set up is nobody's concern.
            entries_.erase(check.number);
            continue;
        }
        Entry& entry = entries_[check.number];
        entry.name = AccountStatusText::AccountLabel(check.number, check.name);
        const QString who = QStringLiteral("アカウント %1「%2」").arg(check.number).arg(entry.name);

        if (kind == Kind::Ok) {
            if (entry.failing) {
                changes.notifications.append({entry.name + QStringLiteral(": 受信できるようになりました"),
                                              QStringLiteral("メールを再び確認できます"), false});
                changes.logLines.append(who + QStringLiteral(": 復旧しました"));
            }
            entry.failing = false;
            entry.signInNotified = false;
            entry.logged.clear();
            continue;
        }
        if (kind == Kind::Waiting && !entry.failing) continue;

        if (needsSignIn(check.status) && !entry.signInNotified) {
            // Only the user can mend it: said once, even when the account was failing already.
            entry.signInNotified = true;
            changes.notifications.append({entry.name + QStringLiteral(": ") + AccountStatusText::Reason(check.status),
                                          QStringLiteral("「プロパティ」でこのアカウントの「ログイン」を押し、"
                                                         "もう一度ログインして下さい"),
                                          true});
        } else if (!entry.failing) {
            changes.notifications.append(
                {entry.name + QStringLiteral(": 受信できません"), AccountStatusText::Reason(check.status), true});
        }
        if (!entry.failing) {
            entry.failing = true;
            entry.since = at;
        }
        // Waiting says when, not why: the reason stays the failure's.
        if (kind != Kind::Waiting) entry.shown = check.status;
        entry.nextTry = localTime(check.status.waitUntil);
        if (!entry.logged.contains({kind, check.status.fault})) {
            entry.logged.append({kind, check.status.fault});
            const QString detail = AccountStatusText::Detail(check.status);
            changes.logLines.append(who + QStringLiteral(": ") + AccountStatusText::Reason(check.status) +
                                    (detail.isEmpty() ? QString() : QStringLiteral(" — ") + detail));
        }
    }
    if (!anyFinished) return changes;
    if (!lastCheck_.isValid() && entries_.empty())
        changes.notifications.append(
            {QStringLiteral("アカウントが設定されていません"),
             QStringLiteral("Ferrowick のアイコン（通知領域がなければアプリケーションメニューの "
                            "Ferrowick）を右クリックし、「プロパティ」でアカウントを設定して"
                            "下さい。設定は次の起動から使われます。"),
             false});
    noAccount_ = entries_.empty();
    lastCheck_ = at;
    return changes;
}

QString AccountStatusBoard::ToolTip() const
{
    if (offline_) return programName_ + QStringLiteral("\nネットワークに接続されていません");
    QStringList lines{programName_};
    for (const auto& [number, entry] : entries_) {
        if (!entry.failing) continue;
        const QString since = entry.since.toString(QStringLiteral("HH:mm"));
        const QString when =
            entry.nextTry.isValid()
                ? QStringLiteral("%1 から、%2 に再試行").arg(since, entry.nextTry.toString(QStringLiteral("HH:mm:ss")))
                : since + QStringLiteral(" から");
        lines << QStringLiteral("%1: %2（%3）").arg(entry.name, AccountStatusText::Reason(entry.shown), when);
    }
    if (noAccount_) lines << QStringLiteral("アカウントが設定されていません（右クリック →「プロパティ」）");
    else if (lines.size() == 1 && lastCheck_.isValid())
        lines << QStringLiteral("最終確認 ") + lastCheck_.toString(QStringLiteral("HH:mm:ss"));
    return lines.join(u'\n');
}

bool AccountStatusBoard::Warning() const
{
    if (offline_) return false;
    for (const auto& [number, entry] : entries_)
        if (entry.failing) return true;
    return false;
}
