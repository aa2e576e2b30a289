#include "signin/SignIn.h"

#include "signin/AccessTokens.h"
#include "signin/LoopbackRedirect.h"
#include "signin/Pkce.h"
#include "signin/TokenClient.h"

#include <QUrl>
#include <QUrlQuery>

namespace signin {
namespace {

SignInResult Result(SignInResult::Kind kind, const QString& detail = {})
{
    SignInResult r;
    r.kind = kind;
    r.detail = detail;
    return r;
}

QUrl AuthorizationUrl(const OAuthProvider& provider, const AccountId& account, const QString& redirectUri,
                      const QString& state, const Pkce& pkce)
{
    QUrl url(provider.authorizationEndpoint);
    QUrlQuery query(url);
    for (const auto& [name, value] : QUrlQuery(provider.authorizationParameters).queryItems(QUrl::FullyDecoded))
        query.addQueryItem(name, value);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), provider.clientId);
    query.addQueryItem(QStringLiteral("redirect_uri"), redirectUri);
    query.addQueryItem(QStringLiteral("scope"), provider.scopes);
    query.addQueryItem(QStringLiteral("state"), state);
    query.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(pkce.challenge));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("login_hint"), account.user.trimmed());
    // Every reserved character escaped, so that a scope's "/" or ":" cannot end up unencoded.
    QString encoded;
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (!encoded.isEmpty()) encoded += u'&';
        encoded += QString::fromLatin1(QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value));
    }
    url.setQuery(encoded, QUrl::StrictMode);
    return url;
}

} // namespace

SignInResult SignIn(const OAuthProvider& provider, const AccountId& account, const OpenBrowser& open,
                    std::chrono::milliseconds wait, const std::atomic<bool>* cancel)
{
    if (provider.clientId.isEmpty()) return Result(SignInResult::Kind::NoClientId);
    LoopbackRedirect loopback;
    QString error;
    if (!loopback.Listen(provider.redirectHost == QStringLiteral("localhost"), &error))
        return Result(SignInResult::Kind::NoLoopback, error);
    const QString redirectUri = QStringLiteral("http://%1:%2/").arg(provider.redirectHost).arg(loopback.Port());
    const Pkce pkce = MakePkce();
    const QString state = QString::fromLatin1(RandomText(24));
    const auto deadline = std::chrono::steady_clock::now() + wait;

    if (!open(AuthorizationUrl(provider, account, redirectUri, state, pkce).toString(QUrl::FullyEncoded)))
        return Result(SignInResult::Kind::NoBrowser);

    const LoopbackRedirect::Outcome back = loopback.Await(state, deadline, cancel);
    switch (back.kind) {
    case LoopbackRedirect::Outcome::Kind::Code:
        break;
    case LoopbackRedirect::Outcome::Kind::Denied:
        return Result(SignInResult::Kind::Denied, back.error);
    case LoopbackRedirect::Outcome::Kind::TimedOut:
        return Result(SignInResult::Kind::TimedOut);
    case LoopbackRedirect::Outcome::Kind::Cancelled:
        return Result(SignInResult::Kind::Cancelled);
    }

    const TokenReply reply = RedeemCode(provider, back.code, QString::fromLatin1(pkce.verifier), redirectUri, cancel);
    switch (reply.kind) {
    case TokenReply::Kind::Ok:
        break;
    case TokenReply::Kind::InvalidGrant:
    case TokenReply::Kind::Refused:
        return Result(SignInResult::Kind::TokenRefused, reply.error);
    case TokenReply::Kind::Unreachable:
        return Result(SignInResult::Kind::TokenEndpointDown, reply.error);
    case TokenReply::Kind::Cancelled:
        return Result(SignInResult::Kind::Cancelled);
    }
    AccessTokens::Keep(account, reply.accessToken, reply.expiresIn);
    if (reply.refreshToken.isEmpty()) return Result(SignInResult::Kind::Ok);
    const Keyring::Result kept = StoreGrant(account, reply.refreshToken);
    if (kept.status != Keyring::Status::Ok) {
        SignInResult r = Result(SignInResult::Kind::KeyringFailed, kept.detail);
        r.keyring = kept.status;
        return r;
    }
    return Result(SignInResult::Kind::Ok);
}

QString Message(const SignInResult& result, const OAuthProvider& provider)
{
    using Kind = SignInResult::Kind;
    switch (result.kind) {
    case Kind::Ok:
        return QStringLiteral("%1 にログインしました").arg(provider.name);
    case Kind::NoClientId:
        return QStringLiteral("このビルドには %1 のクライアント ID がありません").arg(provider.name);
    case Kind::NoLoopback:
        return QStringLiteral("ログインの応答を受ける準備ができませんでした");
    case Kind::NoBrowser:
        return QStringLiteral("ブラウザを開けませんでした");
    case Kind::TimedOut:
        return QStringLiteral("ブラウザでのログインが時間内に終わりませんでした");
    case Kind::Denied:
        return QStringLiteral("ログインが拒否されました");
    case Kind::TokenEndpointDown:
        return QStringLiteral("認可サーバーに接続できません");
    case Kind::TokenRefused:
        return QStringLiteral("認可サーバーがトークンの発行を拒みました");
    case Kind::KeyringFailed:
        return result.keyring == Keyring::Status::Locked
                   ? QStringLiteral("鍵束がロックされているため、ログインを保存できませんでした")
                   : QStringLiteral("鍵束がないため、ログインを保存できませんでした");
    case Kind::Cancelled:
        return QStringLiteral("ログインを中止しました");
    }
    return {};
}

} // namespace signin
