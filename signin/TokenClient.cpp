#include "signin/TokenClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace signin {
namespace {

constexpr size_t kMaxReplyBytes = 64 * 1024;
constexpr long kConnectSeconds = 10;
constexpr long kTotalSeconds = 20;

struct Transfer {
    QByteArray body;
    bool tooLong = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (static_cast<size_t>(t->body.size()) + n > kMaxReplyBytes) {
        t->tooLong = true;
        return 0;
    }
    t->body.append(data, static_cast<qsizetype>(n));
    return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* t = static_cast<Transfer*>(user);
    return t->cancel && *t->cancel ? 1 : 0;
}

QByteArray Form(CURL* curl, const QList<QPair<QString, QString>>& fields)
{
    QByteArray form;
    for (const auto& [name, value] : fields) {
        if (value.isEmpty()) continue;
        const QByteArray raw = value.toUtf8();
        char* escaped = curl_easy_escape(curl, raw.constData(), static_cast<int>(raw.size()));
        if (!form.isEmpty()) form += '&';
        form += name.toLatin1() + '=' + QByteArray(escaped ? escaped : "");
        curl_free(escaped);
    }
    return form;
}

QString SafeText(const QString& text)
{
    QString out;
    for (QChar c : text.left(80))
        out += (c.isLetterOrNumber() && c.unicode() < 0x80) || c == u'_' || c == u'-' || c == u' ' ? c : u'?';
    return out;
}

TokenReply Post(const OAuthProvider& provider, QList<QPair<QString, QString>> fields, const std::atomic<bool>* cancel)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    TokenReply reply;
    if (!EndpointAllowed(provider.tokenEndpoint)) {
        reply.kind = TokenReply::Kind::Refused;
        reply.error = QStringLiteral("token endpoint not allowed");
        return reply;
    }
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) return reply;
    fields.append({QStringLiteral("client_id"), provider.clientId});
    fields.append({QStringLiteral("client_secret"), provider.clientSecret});
    QByteArray form = Form(curl.get(), fields);
    const QByteArray url = provider.tokenEndpoint.toUtf8();
    Transfer transfer;
    transfer.cancel = cancel;
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.constData());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kTotalSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    const CURLcode rc = curl_easy_perform(c);
    curl_slist_free_all(headers);
    form.fill('\0'); // it held the code or the refresh token
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        reply.kind = TokenReply::Kind::Cancelled;
        return reply;
    }
    if (rc != CURLE_OK && !transfer.tooLong) {
        reply.error = SafeText(QString::fromUtf8(curl_easy_strerror(rc)));
        return reply;
    }
    const QJsonObject json = QJsonDocument::fromJson(transfer.body).object();
    if (status == 200 && !transfer.tooLong) {
        reply.accessToken = json.value(QStringLiteral("access_token")).toString();
        reply.refreshToken = json.value(QStringLiteral("refresh_token")).toString();
        reply.expiresIn = json.value(QStringLiteral("expires_in")).toVariant().toInt();
        if (!reply.accessToken.isEmpty()) {
            reply.kind = TokenReply::Kind::Ok;
            return reply;
        }
        reply.error = QStringLiteral("no access_token in the reply");
        reply.kind = TokenReply::Kind::Refused;
        return reply;
    }
    if (status >= 400 && status < 500) {
        const QString error = SafeText(json.value(QStringLiteral("error")).toString());
        reply.kind =
            error == QStringLiteral("invalid_grant") ? TokenReply::Kind::InvalidGrant : TokenReply::Kind::Refused;
        reply.error = error.isEmpty() ? QStringLiteral("HTTP %1").arg(status) : error;
        return reply;
    }
    reply.error = QStringLiteral("HTTP %1").arg(status);
    return reply;
}

} // namespace

TokenReply RedeemCode(const OAuthProvider& provider, const QString& code, const QString& verifier,
                      const QString& redirectUri, const std::atomic<bool>* cancel)
{
    return Post(provider,
                {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                 {QStringLiteral("code"), code},
                 {QStringLiteral("redirect_uri"), redirectUri},
                 {QStringLiteral("code_verifier"), verifier}},
                cancel);
}

TokenReply Refresh(const OAuthProvider& provider, const QString& refreshToken, const std::atomic<bool>* cancel)
{
    return Post(provider,
                {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                 {QStringLiteral("refresh_token"), refreshToken},
                 {QStringLiteral("scope"), provider.scopes}},
                cancel);
}

} // namespace signin
