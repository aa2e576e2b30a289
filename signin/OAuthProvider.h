// The OAuth2 providers the program can sign in to: a built-in table (Microsoft, Google) with
// client ids from the build, and the user's or packager's own provider file laid over it.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace signin {

struct OAuthProvider {
    QString id;        // the table's or the file's section name, e.g. "microsoft"
    QString name;      // for messages, e.g. "Microsoft"
    QStringList hosts; // mail server host names that sign in here, lower case
    QString authorizationEndpoint;
    QString tokenEndpoint;
    QString scopes; // space-separated
    QString clientId;
    // Some providers issue installed applications a "secret" that is not one; sent when set.
    QString clientSecret;
    // The loopback redirect's host: "127.0.0.1", or "localhost" where the provider registers that.
    QString redirectHost = QStringLiteral("127.0.0.1");
    // Added to the authorisation request as they stand, e.g. "access_type=offline".
    QString authorizationParameters;
};

std::vector<OAuthProvider> BuiltInProviders();

// FERROWICK_OAUTH_PROVIDERS when set, else <receive folder>/INI/oauth-providers.ini.
QString ProviderFilePath(const QString& receiveFolder);

// The built-in table with the provider file laid over it: a section named like a built-in
// provider replaces the fields it sets, another name adds a provider. A missing file is no
// fault. A section that lacks a field, or names an endpoint that is not https (plain http is
// taken for loopback addresses only), is left out with a line in `warnings`; a built-in
// provider then stays as it was.
std::vector<OAuthProvider> LoadProviders(const QString& file, QStringList* warnings = nullptr);

// The provider whose hosts hold the server text's host, or nullptr.
const OAuthProvider* ProviderForServer(const std::vector<OAuthProvider>& providers, const QString& serverText);

// https anywhere; http only to 127.0.0.1, ::1 or localhost.
bool EndpointAllowed(const QString& url);

} // namespace signin
