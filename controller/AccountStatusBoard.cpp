#include "controller/AccountStatusBoard.h"

#include "controller/AccountStatusText.h"

using Kind = maillib::AccountStatus::Kind;

AccountStatusBoard::AccountStatusBoard(QString programName) : programName_(std::move(programName)) {}

AccountStatusBoard::Changes AccountStatusBoard::Record(const QList<Check>& checks, const QDateTime& at)
{
    Changes changes;
    bool anyFinished = false;
    for (const Check& check : checks) {
        const Kind kind = check.status.kind;
        if (kind == Kind::Cancelled) continue;
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
            entry.logged.clear();
            continue;
        }
        if (kind == Kind::Waiting && !entry.failing) continue;

        if (!entry.failing) {
            entry.failing = true;
            entry.since = at;
            changes.notifications.append(
                {entry.name + QStringLiteral(": 受信できません"), AccountStatusText::Reason(check.status), true});
        }
        entry.shown = check.status;
        if (!entry.logged.contains(kind)) {
            entry.logged.append(kind);
            const QString detail = AccountStatusText::Detail(check.status);
            changes.logLines.append(who + QStringLiteral(": ") + AccountStatusText::Reason(check.status) +
                                    (detail.isEmpty() ? QString() : QStringLiteral(" — ") + detail));
        }
    }
    if (anyFinished) lastCheck_ = at;
    return changes;
}

QString AccountStatusBoard::ToolTip() const
{
    QStringList lines{programName_};
    for (const auto& [number, entry] : entries_) {
        if (!entry.failing) continue;
        lines << QStringLiteral("%1: %2（%3 から）")
                     .arg(entry.name, AccountStatusText::Reason(entry.shown),
                          entry.since.toString(QStringLiteral("HH:mm")));
    }
    if (lines.size() == 1 && lastCheck_.isValid())
        lines << QStringLiteral("最終確認 ") + lastCheck_.toString(QStringLiteral("HH:mm:ss"));
    return lines.join(u'\n');
}

bool AccountStatusBoard::Warning() const
{
    for (const auto& [number, entry] : entries_)
        if (entry.failing) return true;
    return false;
}
