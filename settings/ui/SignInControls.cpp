#include "settings/ui/SignInControls.h"

#include "maillib/MailLib.h"
#include "platform/BrowserOpener.h"
#include "platform/Keyring.h"
#include "platform/TextUtil.h"
#include "settings/mReadINI.h"
#include "settings/ui/ClickLabel.h"
#include "settings/ui/DialogMessages.h"
#include "settings/ui/SettingsDialogLayout.h"
#include "signin/AccountSecrets.h"
#include "signin/SignIn.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

using namespace SettingsDialogLayout;

const QString kKeyringCaption = QStringLiteral("パスワードを鍵束に保存");
const QString kNoKeyringCaption = QStringLiteral("鍵束がありません");
const QString kLoginCaption = QStringLiteral("ログイン");

// Runs `work` on a worker and keeps the dialog painting until it is done; the dialog takes
// no input meanwhile.
template <typename T, typename F> T OffGuiThread(QWidget* dialog, F work)
{
    QFutureWatcher<T> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    dialog->setEnabled(false);
    watcher.setFuture(QtConcurrent::run(std::move(work)));
    if (!watcher.isFinished()) loop.exec();
    dialog->setEnabled(true);
    return watcher.result();
}

void Colour(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    w->setPalette(p);
}

} // namespace

SignInControls::SignInControls(QWidget* dialog, QLineEdit* server, QLineEdit* user, QLineEdit* password)
    : QObject(dialog), dialog_(dialog), server_(server), user_(user), password_(password),
      providers_(signin::LoadProviders(signin::ProviderFilePath(TextUtil::TrimSpaces(mReadINI::MailDir)))),
      cancel_(std::make_shared<std::atomic<bool>>(false))
{
    keyringBox_ = new QCheckBox(kKeyringCaption, dialog);
    keyringBox_->setObjectName(QStringLiteral("KeyringBox"));
    keyringBox_->setGeometry(toPixels(kKeyringBox));
    Colour(keyringBox_, kCaption);
    keyringBox_->setEnabled(false); // until the probe says a keyring answers

    loginLabel_ = new ClickLabel(kLoginCaption, dialog);
    loginLabel_->setObjectName(QStringLiteral("LoginLabel"));
    loginLabel_->setGeometry(toPixels(kLoginLabel.at));
    Colour(loginLabel_, kLink);
    loginLabel_->setCursor(Qt::PointingHandCursor);
    loginLabel_->hide();
    connect(loginLabel_, &ClickLabel::clicked, this, &SignInControls::Login);
    connect(server_, &QLineEdit::textChanged, this, &SignInControls::UpdateLogin);

    connect(&probe_, &QFutureWatcherBase::finished, this, [this] { Probed(probe_.result()); });
    probe_.setFuture(QtConcurrent::run(&Keyring::Available));
}

SignInControls::~SignInControls()
{
    // A sign-in still waiting for the browser gives up; nothing waits for it here.
    *cancel_ = true;
    probe_.disconnect(this);
}

bool SignInControls::Portable() const
{
    // A program folder beside the executable may travel to another machine and its keyring.
    const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/maildata"));
    return beside.exists() &&
           beside.canonicalFilePath() == QFileInfo(TextUtil::TrimSpaces(mReadINI::MailDir)).canonicalFilePath();
}

QString SignInControls::Server() const { return TextUtil::TrimSpaces(server_->text()); }
QString SignInControls::User() const { return TextUtil::TrimSpaces(user_->text()); }

void SignInControls::Probed(bool available)
{
    probed_ = true;
    available_ = available;
    keyringBox_->setEnabled(available);
    keyringBox_->setText(available ? kKeyringCaption : kNoKeyringCaption);
    keyringBox_->setToolTip(available ? QString() : QStringLiteral("パスワードは設定ファイルに保存されます"));
    keyringBox_->resize(std::max(keyringBox_->width(), keyringBox_->sizeHint().width()), keyringBox_->height());
    ShowAccount(Server(), User(), password_->text());
}

void SignInControls::ShowAccount(const QString& server, const QString& user, const QString& filePassword)
{
    ++shown_;
    removeOnApply_ = false;
    UpdateLogin();
    if (!probed_) return Q_EMIT Settled();
    keyringBox_->setChecked(available_ && !Portable());
    if (!available_ || !filePassword.isEmpty() || server.trimmed().isEmpty() || user.trimmed().isEmpty())
        return Q_EMIT Settled();
    // The file leaves the password to the keyring: show it, ticked, once it is read.
    const signin::AccountId id{TextUtil::TrimSpaces(server), TextUtil::TrimSpaces(user)};
    auto* read = new QFutureWatcher<Keyring::Result>(this);
    const int shown = shown_;
    connect(read, &QFutureWatcherBase::finished, this, [this, read, shown] {
        read->deleteLater();
        const Keyring::Result r = read->result();
        if (shown == shown_ && r.status == Keyring::Status::Ok && password_->text().isEmpty()) {
            password_->setText(r.secret);
            keyringBox_->setChecked(true);
        }
        Q_EMIT Settled();
    });
    read->setFuture(QtConcurrent::run([id] { return signin::ReadPassword(id); }));
}

void SignInControls::PrepareApply(QString& filePassword, QString* note)
{
    const signin::AccountId id{Server(), User()};
    removeOnApply_ = false;
    if (!available_ || id.server.isEmpty() || id.user.isEmpty()) return;
    if (!keyringBox_->isChecked()) {
        // Back into the file; the keyring's copy goes once the file holds it.
        removeOnApply_ = !filePassword.trimmed().isEmpty();
        removeServer_ = id.server;
        removeUser_ = id.user;
        return;
    }
    const QString password = TextUtil::TrimSpaces(filePassword);
    if (password.isEmpty()) return;
    const Keyring::Status status = OffGuiThread<Keyring::Status>(dialog_, [id, password] {
        const Keyring::Result stored = signin::StorePassword(id, password);
        if (stored.status != Keyring::Status::Ok) return stored.status;
        // Read back: the file lets go of its copy only when the keyring surely has it.
        const Keyring::Result back = signin::ReadPassword(id);
        return back.secret == password ? Keyring::Status::Ok : Keyring::Status::Failed;
    });
    if (status == Keyring::Status::Ok) {
        filePassword.clear();
        return;
    }
    if (note)
        *note = status == Keyring::Status::Locked
                    ? QStringLiteral("鍵束がロックされているため、パスワードは設定ファイルに保存しました")
                    : QStringLiteral("鍵束に保存できなかったため、パスワードは設定ファイルに保存しました");
}

void SignInControls::AfterApply()
{
    if (!removeOnApply_) return;
    const signin::AccountId id{removeServer_, removeUser_};
    OffGuiThread<bool>(dialog_, [id] { return signin::RemovePassword(id).status == Keyring::Status::Ok; });
}

void SignInControls::UpdateLogin()
{
    loginLabel_->setVisible(signin::ProviderForServer(providers_, Server()) != nullptr);
}

void SignInControls::Login()
{
    const signin::OAuthProvider* provider = signin::ProviderForServer(providers_, Server());
    if (!provider || !loginLabel_->isEnabled()) return;
    const signin::OAuthProvider chosen = *provider;
    const signin::AccountId id{Server(), User()};
    auto inform = [this](const QString& text) { DialogMessages::Inform(dialog_, DialogMessages::kTitle, text); };
    if (chosen.clientId.isEmpty()) {
        signin::SignInResult none;
        none.kind = signin::SignInResult::Kind::NoClientId;
        return inform(signin::Message(none, chosen));
    }
    if (id.user.isEmpty()) return inform(QStringLiteral("アカウントを入力して下さい"));
    loginLabel_->setEnabled(false);
    loginLabel_->setText(QStringLiteral("ログイン中…"));
    auto* watcher = new QFutureWatcher<signin::SignInResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, chosen, inform] {
        watcher->deleteLater();
        loginLabel_->setEnabled(true);
        loginLabel_->setText(kLoginCaption);
        inform(signin::Message(watcher->result(), chosen));
    });
    const auto cancel = cancel_;
    watcher->setFuture(QtConcurrent::run([chosen, id, cancel] {
        const signin::SignInResult result = signin::SignIn(
            chosen, id, [](const QString& url) { return BrowserOpener::Open(url); }, signin::kBrowserWait,
            cancel.get());
        // The new grant is tried at the account's next check, whatever wait the old one left.
        // Here, not on the GUI thread: it waits for a check of the account in flight.
        if (result.kind == signin::SignInResult::Kind::Ok)
            maillib::RetryNow(id.server.toStdString(), id.user.toStdString());
        return result;
    }));
}
