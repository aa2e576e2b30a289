#include "settings/ui/ConnectionTest.h"

#include "controller/AccountStatusText.h"
#include "maillib/ServerAddress.h"
#include "platform/TextUtil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

namespace ConnectionTest {

Result Run(const QString& server, const QString& user, const QString& password, const QString& caFile)
{
    using TextUtil::TrimSpaces;
    Result result;
    // The resident checks the saved texts, and saving trims them; test what would be saved.
    std::string serverText = TrimSpaces(server).toStdString();
    std::string userText = TrimSpaces(user).toStdString();
    std::string passwordText = TrimSpaces(password).toStdString();
    result.server = TrimSpaces(server);
    result.caFile = caFile;
    if (serverText.empty() || userText.empty()) {
        result.status.kind = maillib::AccountStatus::Kind::NotConfigured;
        return result;
    }

    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/ferrowick-test-XXXXXX"));
    if (!folder.isValid()) {
        result.status.kind = maillib::AccountStatus::Kind::ServerError;
        result.status.text = "cannot create a temporary folder";
        return result;
    }
    // The library trusts <receive folder>/INI/cacert.pem, as it does for the resident.
    if (!caFile.isEmpty() && QFile::exists(caFile) && QDir(folder.path()).mkdir(QStringLiteral("INI")))
        QFile::copy(caFile, folder.filePath(QStringLiteral("INI/cacert.pem")));

    std::string mode = "SAVEALL";
    std::string folderText = folder.path().toStdString();
    maillib::RetryNow(serverText, userText);
    const maillib::MailList mails =
        maillib::RcvMail(serverText, userText, passwordText, mode, folderText, result.status);
    if (mails) result.mails = static_cast<int>(mails->size());
    // The folder and every mail fetched into it go when `folder` does.
    return result;
}

namespace {

using Kind = maillib::AccountStatus::Kind;

// A server that waits for the other side to begin, or answers a TLS greeting in plain text,
// is often one asked in the wrong form for its port: a protocol that starts plain (POP3 with
// STLS, usually port 110; IMAP with STARTTLS, 143) against one that starts with TLS (995, 993).
QString otherFormHint(const Result& result)
{
    const auto address = maillib::ParseServer(result.server.toStdString());
    if (!address) return {};
    const bool tls = address->security == maillib::ServerAddress::Security::ImplicitTls;
    const bool plainReply = result.status.kind == Kind::CannotConnect && tls &&
                            result.status.text.find("SSL connect error") != std::string::npos;
    if (result.status.kind != Kind::TimedOut && !plainReply) return {};
    QString host = QString::fromStdString(address->host);
    if (host.contains(u':')) host = u'[' + host + u']';
    const QString port = QString::number(address->port);
    if (address->protocol == maillib::ServerAddress::Protocol::Imap)
        return tls ? QStringLiteral(
                         "\nポート %1 が暗号化なしで始まる IMAP（STARTTLS、普通は 143 番）なら、POPサーバ欄を"
                         "「imap://%2:%1」にしてお試し下さい。")
                         .arg(port, host)
                   : QStringLiteral("\nポート %1 が TLS で始まる IMAPS（普通は 993 番）なら、POPサーバ欄を"
                                    "「imaps://%2:%1」にしてお試し下さい。")
                         .arg(port, host);
    return tls ? QStringLiteral("\nポート %1 が暗号化なしで始まる POP3（STLS、普通は 110 番）なら、POPサーバ欄を"
                                "「pop3://%2:%1」にしてお試し下さい。")
                     .arg(port, host)
               : QStringLiteral("\nポート %1 が TLS で始まる POP3S（普通は 995 番）なら、POPサーバ欄を"
                                "「pop3s://%2:%1」にしてお試し下さい。")
                     .arg(port, host);
}

} // namespace

QString Message(const Result& result)
{
    switch (result.status.kind) {
    case Kind::Ok:
        return QStringLiteral("接続できました（メール %1 通）").arg(result.mails);
    case Kind::NotConfigured:
        return QStringLiteral("POPサーバとアカウントを入力して下さい");
    case Kind::Cancelled:
        return QStringLiteral("接続テストを中止しました");
    case Kind::Waiting:
        // The server itself asks for a pause between logins (LOGIN-DELAY).
        return AccountStatusText::Reason(result.status) +
               QStringLiteral("\nサーバーが、続けてのログインを再試行の時刻まで断っています");
    case Kind::CertificateNotTrusted:
        return AccountStatusText::Reason(result.status) +
               QStringLiteral("\n自己署名などの証明書を使うサーバーなら、その CA 証明書（PEM 形式）を %1 に置いて"
                              "から、もう一度お試し下さい。")
                   .arg(result.caFile.isEmpty() ? QStringLiteral("maildata/INI/cacert.pem") : result.caFile);
    case Kind::NoMailbox:
        return AccountStatusText::Reason(result.status) +
               QStringLiteral("\nPOPサーバ欄の「/」の後のメールボックス名をお確かめ下さい（省略すると INBOX）。");
    default:
        return AccountStatusText::Reason(result.status) + otherFormHint(result);
    }
}

} // namespace ConnectionTest

ConnectionTester::ConnectionTester(QObject* parent) : QObject(parent)
{
    connect(&watcher_, &QFutureWatcherBase::finished, this, [this] { Q_EMIT Finished(watcher_.result()); });
}

void ConnectionTester::Start(const QString& server, const QString& user, const QString& password, const QString& caFile)
{
    if (IsRunning()) return;
    // Shared set-up belongs on this thread, before any worker starts.
    maillib::Initialise();
    watcher_.setFuture(QtConcurrent::run(&ConnectionTest::Run, server, user, password, caFile));
}
