#include "fwmail/SignInCommands.h"

#include "fwmail/SettingsAccount.h"
#include "platform/BrowserOpener.h"
#include "platform/Keyring.h"
#include "platform/ProfileIni.h"
#include "settings/SettingsKeys.h"
#include "settings/mReadINI.h"
#include "signin/AccountSecrets.h"
#include "signin/CredentialSource.h"
#include "signin/SignIn.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <functional>
#include <iostream>

namespace fwmail {
namespace {

struct Target {
    int account = 0;
    std::string folder;
};

// --account N [--folder DIR]; false (after saying why) on anything else.
bool ParseTarget(const char* command, const std::vector<std::string>& args, const std::string& executableFolder,
                 Target& target)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--account" && i + 1 < args.size() && args[i + 1].size() == 1 && args[i + 1][0] >= '1' &&
            args[i + 1][0] <= '5') {
            target.account = args[++i][0] - '0';
        } else if (args[i] == "--folder" && i + 1 < args.size()) {
            target.folder = args[++i];
        } else {
            std::fprintf(stderr, "fwmail: usage: fwmail %s --account N [--folder DIR] (N from 1 to 5)\n", command);
            return false;
        }
    }
    if (target.account == 0) {
        std::fprintf(stderr, "fwmail: %s needs --account N (N from 1 to 5)\n", command);
        return false;
    }
    if (target.folder.empty()) target.folder = ProgramFolderFor(executableFolder);
    return true;
}

// What the keyring and D-Bus need of a program.
std::unique_ptr<QCoreApplication> MakeApplication()
{
    static int argc = 1;
    static char name[] = "fwmail";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

// Parses the target, sets up what the keyring and D-Bus need, reads the account and runs `body`.
int WithAccount(const char* command, const std::vector<std::string>& args, const std::string& executableFolder,
                const std::function<int(const Target&, const SettingsAccount&)>& body)
{
    Target target;
    if (!ParseTarget(command, args, executableFolder, target)) return 2;
    const auto app = MakeApplication();
    SettingsAccount account;
    std::string error;
    if (!ReadSettingsAccount(target.folder, target.account, account, error)) {
        std::fprintf(stderr, "fwmail: %s\n", error.c_str());
        return 1;
    }
    return body(target, account);
}

const char* KeyringWords(Keyring::Status status)
{
    switch (status) {
    case Keyring::Status::Locked:
        return "the keyring is locked; unlock it and try again";
    case Keyring::Status::NoService:
        return "no keyring answers on this desktop";
    case Keyring::Status::TimedOut:
        return "the keyring did not answer in time";
    default:
        return "the keyring refused";
    }
}

const char* SignInWords(signin::SignInResult::Kind kind)
{
    using Kind = signin::SignInResult::Kind;
    switch (kind) {
    case Kind::Ok:
        return "signed in; the grant is kept in the keyring";
    case Kind::NoClientId:
        return "this build has no client id for the provider; see oauth-providers.ini in the README";
    case Kind::NoLoopback:
        return "no loopback port could be opened for the sign-in";
    case Kind::NoBrowser:
        return "no browser could be started";
    case Kind::TimedOut:
        return "the browser did not come back in time";
    case Kind::Denied:
        return "the sign-in was declined";
    case Kind::TokenEndpointDown:
        return "the authorisation server cannot be reached";
    case Kind::TokenRefused:
        return "the authorisation server refused to issue a token";
    case Kind::KeyringFailed:
        return "signed in, but the keyring could not keep the grant";
    case Kind::Cancelled:
        return "the sign-in was cancelled";
    }
    return "";
}

} // namespace

int PasswordCommand(const std::vector<std::string>& args, const std::string& executableFolder)
{
    return WithAccount("password", args, executableFolder, [](const Target& target, const SettingsAccount& account) {
        if (!Keyring::Available()) {
            std::fprintf(stderr, "fwmail: no keyring answers on this desktop; the settings file is unchanged\n");
            return 1;
        }
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        if (password.empty()) {
            std::fprintf(stderr, "fwmail: no password on stdin; nothing changed\n");
            return 1;
        }
        const signin::AccountId id{QString::fromStdString(account.server), QString::fromStdString(account.user)};
        const QString secret = QString::fromStdString(password);
        password.assign(password.size(), '\0');
        const Keyring::Result stored = signin::StorePassword(id, secret);
        // Read back before the file lets go of its copy: a password must never be lost.
        if (stored.status != Keyring::Status::Ok || signin::ReadPassword(id).secret != secret) {
            std::fprintf(stderr, "fwmail: %s; the settings file is unchanged\n", KeyringWords(stored.status));
            return 1;
        }
        const QString key = SettingsKeys::Name(SettingsKeys::Id::Password, QString::number(target.account));
        QString writeError;
        if (!ProfileIni::WriteString(SettingsKeys::Section(SettingsKeys::Id::Password), key, QString(),
                                     mReadINI::IniPath, &writeError)) {
            std::fprintf(stderr, "fwmail: the password is in the keyring, but %s could not be emptied: %s\n",
                         key.toUtf8().constData(), writeError.toUtf8().constData());
            return 1;
        }
        std::printf("The password of account %d is in the keyring; %s is now empty.\n", target.account,
                    key.toUtf8().constData());
        return 0;
    });
}

int LoginCommand(const std::vector<std::string>& args, const std::string& executableFolder)
{
    return WithAccount("login", args, executableFolder, [](const Target& target, const SettingsAccount& account) {
        const QString receiveFolder = QString::fromStdString(target.folder) + QStringLiteral("/maildata");
        QStringList warnings;
        const auto providers = signin::LoadProviders(signin::ProviderFilePath(receiveFolder), &warnings);
        for (const QString& w : warnings) std::fprintf(stderr, "fwmail: %s\n", w.toUtf8().constData());
        const signin::OAuthProvider* provider =
            signin::ProviderForServer(providers, QString::fromStdString(account.server));
        if (!provider) {
            std::fprintf(stderr, "fwmail: account %d's server is no OAuth2 provider's host\n", target.account);
            return 1;
        }
        if (!Keyring::Available()) {
            std::fprintf(stderr, "fwmail: no keyring answers on this desktop, and the grant lives only there\n");
            return 1;
        }
        if (!account.password.empty())
            std::fprintf(stderr,
                         "fwmail: note: account %d has a password in the settings file, which checks use "
                         "instead of the sign-in\n",
                         target.account);
        const signin::AccountId id{QString::fromStdString(account.server), QString::fromStdString(account.user)};
        const auto open = [](const QString& url) {
            std::printf("Opening %s\n(if no browser appears, open that address yourself)\n", url.toUtf8().constData());
            std::fflush(stdout);
            BrowserOpener::Open(url);
            return true; // the user can still open the address by hand
        };
        const signin::SignInResult result = signin::SignIn(*provider, id, open);
        if (result.kind == signin::SignInResult::Kind::Ok) {
            std::printf("%s: %s\n", provider->name.toUtf8().constData(), SignInWords(result.kind));
            return 0;
        }
        std::fprintf(stderr, "fwmail: %s: %s%s%s\n", provider->name.toUtf8().constData(), SignInWords(result.kind),
                     result.detail.isEmpty() ? "" : " ", result.detail.toUtf8().constData());
        return 1;
    });
}

CredentialSourceScope::CredentialSourceScope(const std::string& programFolder) : app_(MakeApplication())
{
    const QString mailDir = QString::fromStdString(programFolder) + QStringLiteral("/maildata");
    QStringList warnings;
    maillib::SetCredentialSource(signin::MakeCredentialSource(signin::ProviderFilePath(mailDir), &warnings));
    for (const QString& w : warnings) std::fprintf(stderr, "fwmail: %s\n", w.toUtf8().constData());
}

CredentialSourceScope::~CredentialSourceScope() { maillib::SetCredentialSource({}); }

} // namespace fwmail
