#include "signin/CredentialText.h"

namespace signin {

QString FaultText(maillib::Credential::Fault fault, const QString& providerName)
{
    using Fault = maillib::Credential::Fault;
    switch (fault) {
    case Fault::None:
        return {};
    case Fault::PasswordMissing:
        return QStringLiteral("パスワードが設定されていません");
    case Fault::KeyringPasswordMissing:
        return QStringLiteral("鍵束にパスワードがありません");
    case Fault::KeyringLocked:
        return QStringLiteral("鍵束がロックされています");
    case Fault::KeyringUnavailable:
        return QStringLiteral("鍵束を利用できません");
    case Fault::SignInNeeded:
        return QStringLiteral("再ログインが必要です");
    case Fault::NoClientId:
        if (providerName.isEmpty()) return QStringLiteral("このビルドには OAuth2 のクライアント ID がありません");
        return QStringLiteral("このビルドには %1 のクライアント ID がありません").arg(providerName);
    case Fault::TokenEndpointDown:
        return QStringLiteral("認可サーバーに接続できません");
    case Fault::TokenRefused:
        return QStringLiteral("認可サーバーがトークンの発行を拒みました");
    case Fault::Cancelled:
        return {};
    }
    return {};
}

} // namespace signin
