#include "settings/ui/ConnectionTest.h"

#include "controller/AccountStatusText.h"
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
    const maillib::MailList mails =
        maillib::RcvMail(serverText, userText, passwordText, mode, folderText, result.status);
    if (mails) result.mails = static_cast<int>(mails->size());
    // The folder and every mail fetched into it go when `folder` does.
    return result;
}

QString Message(const Result& result)
{
    using Kind = maillib::AccountStatus::Kind;
    switch (result.status.kind) {
    case Kind::Ok:
        return QStringLiteral("接続できました（メール %1 通）").arg(result.mails);
    case Kind::NotConfigured:
        return QStringLiteral("POPサーバとアカウントを入力して下さい");
    case Kind::Cancelled:
        return QStringLiteral("接続テストを中止しました");
    case Kind::Waiting:
        // The same account failed a moment ago (in the resident's check or an earlier test).
        return AccountStatusText::Reason(result.status) +
               QStringLiteral("\n同じ設定での接続は、直前に失敗したため再試行の時刻まで控えています");
    default:
        return AccountStatusText::Reason(result.status);
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
