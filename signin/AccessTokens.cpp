#include "signin/AccessTokens.h"

#include <QCryptographicHash>
#include <QMap>
#include <memory>

namespace signin::AccessTokens {
namespace {

// Handed out no later than this before its end: a connection must still sign in with it.
constexpr std::chrono::seconds kMargin{60};
// A token whose lifetime the server does not say is used for this long.
constexpr int kDefaultLifetimeSeconds = 600;

struct Entry {
    QString token;
    Clock::time_point until{};
    QByteArray revoked; // digest of a refused refresh token
};

std::mutex g_mutex;
QMap<QString, Entry> g_entries;
QMap<QString, std::shared_ptr<std::mutex>> g_refreshLocks;

QString KeyOf(const AccountId& a) { return a.server.trimmed() + u'\n' + a.user.trimmed(); }

QByteArray Digest(const QString& token) { return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256); }

} // namespace

std::optional<QString> Fresh(const AccountId& account, Clock::time_point now)
{
    std::lock_guard lock(g_mutex);
    const auto it = g_entries.constFind(KeyOf(account));
    if (it == g_entries.cend() || it->token.isEmpty() || now + kMargin >= it->until) return std::nullopt;
    return it->token;
}

void Keep(const AccountId& account, const QString& accessToken, int expiresInSeconds, Clock::time_point now)
{
    std::lock_guard lock(g_mutex);
    Entry& e = g_entries[KeyOf(account)];
    e.token = accessToken;
    e.until = now + std::chrono::seconds(expiresInSeconds > 0 ? expiresInSeconds : kDefaultLifetimeSeconds);
    e.revoked.clear();
}

void Forget(const AccountId& account)
{
    std::lock_guard lock(g_mutex);
    const auto it = g_entries.find(KeyOf(account));
    if (it != g_entries.end()) {
        it->token.clear();
        it->until = {};
    }
}

void MarkRevoked(const AccountId& account, const QString& refreshToken)
{
    std::lock_guard lock(g_mutex);
    Entry& e = g_entries[KeyOf(account)];
    e.token.clear();
    e.revoked = Digest(refreshToken);
}

bool IsRevoked(const AccountId& account, const QString& refreshToken)
{
    std::lock_guard lock(g_mutex);
    const auto it = g_entries.constFind(KeyOf(account));
    return it != g_entries.cend() && !it->revoked.isEmpty() && it->revoked == Digest(refreshToken);
}

std::unique_lock<std::mutex> LockAccount(const AccountId& account)
{
    std::shared_ptr<std::mutex> m;
    {
        std::lock_guard lock(g_mutex);
        auto& slot = g_refreshLocks[KeyOf(account)];
        if (!slot) slot = std::make_shared<std::mutex>();
        m = slot;
    }
    // The map never drops a lock, so the mutex outlives the returned guard.
    return std::unique_lock<std::mutex>(*m);
}

void Clear()
{
    std::lock_guard lock(g_mutex);
    g_entries.clear();
}

} // namespace signin::AccessTokens
