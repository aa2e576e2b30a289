#pragma once
// tests/fixtures/fake-oauth-server as a test sees it: started on a free loopback port with a
// client id, switched by /control, and read back through /issued and /log. Also the "browser":
// a thread that follows the authorisation address and its redirect, as a user's browser would.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <curl/curl.h>
#include <thread>
#include <vector>

class FakeOAuthServer {
public:
    explicit FakeOAuthServer(const QString& clientId)
    {
        process_.setProgram(qEnvironmentVariable("FW_FAKE_OAUTH_SERVER"));
        process_.setArguments({QStringLiteral("--client-id"), clientId});
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (process_.waitForStarted(5000) && process_.waitForReadyRead(10000)) {
            const QByteArray line = process_.readLine().trimmed();
            if (line.startsWith("PORT=")) port_ = line.mid(5).toInt();
        }
    }
    ~FakeOAuthServer()
    {
        for (std::thread& t : browsers_) t.join();
        process_.kill();
        process_.waitForFinished(5000);
    }
    FakeOAuthServer(const FakeOAuthServer&) = delete;
    FakeOAuthServer& operator=(const FakeOAuthServer&) = delete;

    bool IsRunning() const { return port_ > 0; }
    QString Url(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path); }

    // A provider file section that signs `host` in here with `clientId`.
    QString ProviderSection(const QString& id, const QString& host, const QString& clientId) const
    {
        return QStringLiteral("[%1]\nname=%1\nhosts=%2\nauthorization_endpoint=%3\ntoken_endpoint=%4\n"
                              "scopes=mail offline\nclient_id=%5\n")
            .arg(id, host, Url(QStringLiteral("/authorize")), Url(QStringLiteral("/token")), clientId);
    }

    // POSTs `form` (e.g. "deny=1") to /control.
    bool Control(const QByteArray& form) { return Fetch(Url(QStringLiteral("/control")), form, nullptr); }
    // Every code and token the server has handed out.
    QStringList Issued() { return Lines(QStringLiteral("/issued")); }
    // "refresh_token ok", "authorization_code invalid_grant", ...: one per token request.
    QStringList Log() { return Lines(QStringLiteral("/log")); }

    // The browser: fetches `url` on a thread of its own and follows the redirect to the
    // loopback listener. Returns at once, as a browser launcher does. With `forgeFirst`, another
    // page first sends the listener a code of its own, with a state it had to guess.
    bool Browse(const QString& url, bool forgeFirst = false)
    {
        const QString loopback =
            QUrlQuery(QUrl(url)).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
        browsers_.emplace_back([url, loopback, forgeFirst] {
            if (forgeFirst) Fetch(loopback + QStringLiteral("?state=guessed&code=forged"), QByteArray(), nullptr);
            Fetch(url, {}, nullptr, true);
        });
        return true;
    }

    static bool Fetch(const QString& url, const QByteArray& post, QByteArray* body, bool follow = false)
    {
        CURL* curl = curl_easy_init();
        const QByteArray u = url.toUtf8();
        curl_easy_setopt(curl, CURLOPT_URL, u.constData());
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
        if (!post.isNull()) curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, post.constData());
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* out) {
                if (out) static_cast<QByteArray*>(out)->append(d, static_cast<qsizetype>(s * n));
                return s * n;
            });
        const bool ok = curl_easy_perform(curl) == CURLE_OK;
        curl_easy_cleanup(curl);
        return ok;
    }

private:
    QStringList Lines(const QString& path)
    {
        QByteArray body;
        Fetch(Url(path), QByteArray(), &body);
        return QString::fromUtf8(body).split(u'\n', Qt::SkipEmptyParts);
    }

    QProcess process_;
    int port_ = 0;
    std::vector<std::thread> browsers_;
};
