#include "signin/LoopbackRedirect.h"

#include <QByteArray>
#include <QUrl>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace signin {
namespace {

constexpr int kMaxRequestBytes = 8192;
constexpr auto kPerRequest = std::chrono::seconds(5);
constexpr int kSliceMs = 100;

int OpenListener(int family, int port, QString* error)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    int rc;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        int only = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0 || ::listen(fd, 4) != 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

int BoundPort(int fd)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
}

// The request line's target, read within a short bound; empty when none came.
QByteArray ReadTarget(int fd)
{
    QByteArray request;
    const auto deadline = std::chrono::steady_clock::now() + kPerRequest;
    char buf[1024];
    while (!request.contains("\r\n") && request.size() < kMaxRequestBytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, n);
    }
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    if (words.size() != 3 || words[0] != "GET" || !words[2].startsWith("HTTP/1.")) return {};
    return words[1];
}

void Reply(int fd, int code, const QString& message)
{
    const QByteArray body = QStringLiteral("<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
                                           "<title>Ferrowick</title></head><body><p>%1</p></body></html>")
                                .arg(message)
                                .toUtf8();
    const QByteArray head = QByteArray("HTTP/1.1 ") + QByteArray::number(code) +
                            (code == 200 ? " OK" : " Bad Request") +
                            "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                            "Connection: close\r\nContent-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n";
    const QByteArray all = head + body;
    qsizetype sent = 0;
    while (sent < all.size()) {
        const ssize_t n = ::send(fd, all.constData() + sent, static_cast<size_t>(all.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += n;
    }
}

QString SafeErrorCode(const QString& text)
{
    QString out;
    for (QChar c : text.left(64))
        if (c.isLetterOrNumber() && c.unicode() < 0x80) out += c;
        else if (c == u'_') out += c;
    return out;
}

} // namespace

LoopbackRedirect::~LoopbackRedirect()
{
    for (int fd : sockets_) ::close(fd);
}

bool LoopbackRedirect::Listen(bool alsoIpv6, QString* error)
{
    const int v4 = OpenListener(AF_INET, 0, error);
    if (v4 < 0) return false;
    sockets_.push_back(v4);
    port_ = BoundPort(v4);
    // "localhost" may resolve to ::1 first; the same port there, where the system has one.
    if (alsoIpv6) {
        const int v6 = OpenListener(AF_INET6, port_, nullptr);
        if (v6 >= 0) sockets_.push_back(v6);
    }
    return port_ > 0;
}

LoopbackRedirect::Outcome LoopbackRedirect::Await(const QString& state, std::chrono::steady_clock::time_point deadline,
                                                  const std::atomic<bool>* cancel)
{
    Outcome outcome;
    std::vector<pollfd> fds;
    for (int fd : sockets_) fds.push_back({fd, POLLIN, 0});
    while (true) {
        if (cancel && *cancel) {
            outcome.kind = Outcome::Kind::Cancelled;
            return outcome;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            outcome.kind = Outcome::Kind::TimedOut;
            return outcome;
        }
        if (::poll(fds.data(), fds.size(), kSliceMs) <= 0) continue;
        for (pollfd& p : fds) {
            if (!(p.revents & POLLIN)) continue;
            const int client = ::accept4(p.fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const QUrl target(QStringLiteral("http://loopback") + QString::fromLatin1(ReadTarget(client)));
            const QUrlQuery query(target);
            if (target.path() != QStringLiteral("/")) {
                Reply(client, 404, QStringLiteral("ページがありません"));
            } else if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != state || state.isEmpty()) {
                // Not the request this sign-in made (an old tab, or another page's forgery).
                Reply(client, 400, QStringLiteral("このログインの応答ではありません"));
            } else if (query.hasQueryItem(QStringLiteral("error"))) {
                outcome.kind = Outcome::Kind::Denied;
                outcome.error = SafeErrorCode(query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded));
                Reply(client, 200, QStringLiteral("ログインできませんでした。Ferrowick に戻ってください。"));
            } else if (!query.queryItemValue(QStringLiteral("code")).isEmpty()) {
                outcome.kind = Outcome::Kind::Code;
                outcome.code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
                Reply(client, 200,
                      QStringLiteral("Ferrowick のログインが済みました。このページは閉じてかまいません。"));
            } else {
                Reply(client, 400, QStringLiteral("応答にコードがありません"));
            }
            ::close(client);
            if (outcome.kind == Outcome::Kind::Code || outcome.kind == Outcome::Kind::Denied) return outcome;
        }
    }
}

} // namespace signin
