#include "controller/AccountStatusText.h"

#include "platform/TextUtil.h"

#include <QDateTime>

namespace AccountStatusText {

using Kind = maillib::AccountStatus::Kind;

QString Reason(const maillib::AccountStatus& status)
{
    switch (status.kind) {
    case Kind::CertificateNotTrusted:
        return QStringLiteral("証明書を確認できません");
    case Kind::LoginRefused:
        return QStringLiteral("ログインできません（ユーザー名かパスワードが違います）");
    case Kind::CannotConnect:
        return QStringLiteral("サーバーに接続できません");
    case Kind::TimedOut:
        return QStringLiteral("サーバーが応答しません");
    case Kind::ServerError:
        return QStringLiteral("サーバーがエラーを返しました");
    case Kind::NoStls:
        // POP3 says STLS, IMAP STARTTLS.
        return QStringLiteral("暗号化（STLS・STARTTLS）に対応していないサーバーです");
    case Kind::DiskFull:
        return QStringLiteral("ディスクに空きがありません");
    case Kind::NoMailbox:
        return QStringLiteral("サーバーに指定のメールボックスがありません");
    case Kind::Waiting: {
        if (status.waitUntil == std::chrono::system_clock::time_point{}) return QStringLiteral("待機中");
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(status.waitUntil.time_since_epoch());
        const QDateTime at = QDateTime::fromSecsSinceEpoch(seconds.count());
        return QStringLiteral("待機中（%1 に再試行）").arg(at.toString(QStringLiteral("HH:mm")));
    }
    case Kind::Ok:
    case Kind::NotConfigured:
    case Kind::Cancelled:
        break;
    }
    return {};
}

bool IsFailure(Kind kind) { return kind != Kind::Ok && kind != Kind::NotConfigured && kind != Kind::Cancelled; }

QString Detail(const maillib::AccountStatus& status)
{
    const QString text = QString::fromUtf8(status.text.data(), static_cast<qsizetype>(status.text.size()));
    return TextUtil::LeftChars(TextUtil::OneLine(text).simplified(), 300);
}

QString AccountLabel(int number, const QString& name)
{
    const QString trimmed = TextUtil::TrimSpaces(name);
    if (!trimmed.isEmpty()) return trimmed;
    static const char16_t* const circled[] = {u"①", u"②", u"③", u"④", u"⑤"};
    if (number >= 1 && number <= 5) return QStringLiteral("アカウント") + QString::fromUtf16(circled[number - 1]);
    return QStringLiteral("アカウント%1").arg(number);
}

} // namespace AccountStatusText
