#include "signin/OAuthProvider.h"

#include "maillib/ServerAddress.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace signin {
namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024;

// The build's own registrations (CMake cache variables); empty unless a packager sets them.
#ifndef FW_OAUTH_MICROSOFT_CLIENT_ID
#define FW_OAUTH_MICROSOFT_CLIENT_ID ""
#endif
#ifndef FW_OAUTH_GOOGLE_CLIENT_ID
#define FW_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef FW_OAUTH_GOOGLE_CLIENT_SECRET
#define FW_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif

// The file's field names, in the order a section lists them in the README.
enum class Field { Name, Hosts, Authorization, Token, Scopes, ClientId, ClientSecret, RedirectHost, Parameters };
const QMap<QString, Field> kFields{
    {QStringLiteral("name"), Field::Name},
    {QStringLiteral("hosts"), Field::Hosts},
    {QStringLiteral("authorization_endpoint"), Field::Authorization},
    {QStringLiteral("token_endpoint"), Field::Token},
    {QStringLiteral("scopes"), Field::Scopes},
    {QStringLiteral("client_id"), Field::ClientId},
    {QStringLiteral("client_secret"), Field::ClientSecret},
    {QStringLiteral("redirect_host"), Field::RedirectHost},
    {QStringLiteral("authorization_parameters"), Field::Parameters},
};

void Set(OAuthProvider& p, Field field, const QString& value)
{
    switch (field) {
    case Field::Name:
        p.name = value;
        break;
    case Field::Hosts:
        p.hosts = value.toLower().split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
        break;
    case Field::Authorization:
        p.authorizationEndpoint = value;
        break;
    case Field::Token:
        p.tokenEndpoint = value;
        break;
    case Field::Scopes:
        p.scopes = value;
        break;
    case Field::ClientId:
        p.clientId = value;
        break;
    case Field::ClientSecret:
        p.clientSecret = value;
        break;
    case Field::RedirectHost:
        p.redirectHost = value;
        break;
    case Field::Parameters:
        p.authorizationParameters = value;
        break;
    }
}

// Why the provider cannot be used, or empty. A missing client id is no fault here: the
// dialog and the status say so when the provider is used.
QString Problem(const OAuthProvider& p)
{
    if (p.hosts.isEmpty()) return QStringLiteral("no hosts");
    if (!EndpointAllowed(p.authorizationEndpoint)) return QStringLiteral("authorization_endpoint is not https");
    if (!EndpointAllowed(p.tokenEndpoint)) return QStringLiteral("token_endpoint is not https");
    if (p.scopes.isEmpty()) return QStringLiteral("no scopes");
    if (p.redirectHost != QStringLiteral("127.0.0.1") && p.redirectHost != QStringLiteral("localhost"))
        return QStringLiteral("redirect_host is neither 127.0.0.1 nor localhost");
    return {};
}

bool IsLoopback(const QString& host)
{
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

std::vector<OAuthProvider> BuiltInProviders()
{
    OAuthProvider microsoft;
    microsoft.id = QStringLiteral("microsoft");
    microsoft.name = QStringLiteral("Microsoft");
    microsoft.hosts = {QStringLiteral("outlook.office365.com"), QStringLiteral("outlook.office.com"),
                       QStringLiteral("pop-mail.outlook.com"), QStringLiteral("imap-mail.outlook.com")};
    microsoft.authorizationEndpoint = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
    microsoft.tokenEndpoint = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token");
    microsoft.scopes = QStringLiteral("offline_access https://outlook.office.com/POP.AccessAsUser.All "
                                      "https://outlook.office.com/IMAP.AccessAsUser.All");
    microsoft.clientId = QStringLiteral(FW_OAUTH_MICROSOFT_CLIENT_ID);
    // Desktop registrations there take "http://localhost" and any port.
    microsoft.redirectHost = QStringLiteral("localhost");

    OAuthProvider google;
    google.id = QStringLiteral("google");
    google.name = QStringLiteral("Google");
    google.hosts = {QStringLiteral("pop.gmail.com"), QStringLiteral("imap.gmail.com"),
                    QStringLiteral("pop.googlemail.com"), QStringLiteral("imap.googlemail.com")};
    google.authorizationEndpoint = QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth");
    google.tokenEndpoint = QStringLiteral("https://oauth2.googleapis.com/token");
    google.scopes = QStringLiteral("https://mail.google.com/");
    google.clientId = QStringLiteral(FW_OAUTH_GOOGLE_CLIENT_ID);
    google.clientSecret = QStringLiteral(FW_OAUTH_GOOGLE_CLIENT_SECRET);
    // Without these Google issues no refresh token, and the sign-in lasts an hour.
    google.authorizationParameters = QStringLiteral("access_type=offline&prompt=consent");
    return {microsoft, google};
}

QString ProviderFilePath(const QString& receiveFolder)
{
    const QString named = qEnvironmentVariable("FERROWICK_OAUTH_PROVIDERS");
    if (!named.isEmpty()) return named;
    return receiveFolder + QStringLiteral("/INI/oauth-providers.ini");
}

std::vector<OAuthProvider> LoadProviders(const QString& file, QStringList* warnings)
{
    std::vector<OAuthProvider> providers = BuiltInProviders();
    auto warn = [&](const QString& line) {
        if (warnings) warnings->append(QStringLiteral("%1: %2").arg(file, line));
    };
    const QFileInfo info(file);
    if (file.isEmpty() || !info.exists()) return providers;
    QFile f(file);
    if (!info.isFile() || info.size() > kMaxFileBytes || !f.open(QIODevice::ReadOnly)) {
        warn(QStringLiteral("not read (not a regular file of at most 64 KiB, or unreadable)"));
        return providers;
    }
    // Sections in file order; a section's fields as the file sets them.
    QList<QPair<QString, QMap<Field, QString>>> sections;
    int lineNumber = 0;
    for (QString line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        ++lineNumber;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            sections.append({line.mid(1, line.size() - 2).trimmed().toLower(), {}});
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        const QString key = line.left(eq).trimmed().toLower();
        if (eq < 0 || sections.isEmpty() || !kFields.contains(key)) {
            warn(QStringLiteral("line %1 is not a known field of a section").arg(lineNumber));
            continue;
        }
        sections.last().second.insert(kFields[key], line.mid(eq + 1).trimmed());
    }
    for (const auto& [id, fields] : sections) {
        OAuthProvider provider;
        provider.id = id;
        provider.name = id;
        auto existing = std::find_if(providers.begin(), providers.end(), [&](const auto& p) { return p.id == id; });
        if (existing != providers.end()) provider = *existing;
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) Set(provider, it.key(), it.value());
        const QString problem = Problem(provider);
        if (!problem.isEmpty()) {
            // A built-in provider stays as it was.
            warn(QStringLiteral("[%1] left out: %2").arg(id, problem));
            continue;
        }
        if (existing != providers.end()) *existing = provider;
        else providers.push_back(provider);
    }
    return providers;
}

const OAuthProvider* ProviderForServer(const std::vector<OAuthProvider>& providers, const QString& serverText)
{
    const auto address = maillib::ParseServer(serverText.trimmed().toStdString());
    if (!address) return nullptr;
    const QString host = QString::fromStdString(address->host).toLower();
    for (const OAuthProvider& p : providers)
        if (p.hosts.contains(host)) return &p;
    return nullptr;
}

bool EndpointAllowed(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty()) return false;
    if (url.scheme() == QStringLiteral("https")) return true;
    return url.scheme() == QStringLiteral("http") && IsLoopback(url.host());
}

} // namespace signin
