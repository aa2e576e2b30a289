#include "tests/maillib/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

TestCertificate MakeCertificate()
{
    TestCertificate made;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7 * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost,DNS:mail.fw-test.invalid"},
                              std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert, key, EVP_sha256());

    char path[] = "/tmp/fw-test-cert.XXXXXX";
    int fd = ::mkstemp(path);
    if (FILE* f = fd >= 0 ? ::fdopen(fd, "w") : nullptr) {
        PEM_write_X509(f, cert);
        std::fclose(f);
        made.pemFile = path;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    made.context = ctx;
    X509_free(cert);
    EVP_PKEY_free(key);
    return made;
}

std::atomic<long> g_resumed{0};

} // namespace

long ResumedHandshakes() { return g_resumed.load(); }

const TestCertificate& LoopbackCertificate()
{
    static const TestCertificate made = MakeCertificate();
    static const bool removeAtExit = [] {
        std::atexit([] { ::unlink(made.pemFile.c_str()); });
        return true;
    }();
    (void)removeAtExit;
    return made;
}

Channel::~Channel()
{
    if (ssl_) {
        SSL_shutdown(static_cast<SSL*>(ssl_));
        SSL_free(static_cast<SSL*>(ssl_));
    }
}

bool Channel::StartTls()
{
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(LoopbackCertificate().context));
    SSL_set_fd(ssl, fd_);
    // The socket blocks; a client that never speaks TLS must not hold the server forever.
    timeval limit{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (SSL_accept(ssl) != 1) {
        ERR_clear_error();
        SSL_free(ssl);
        return false;
    }
    if (SSL_session_reused(ssl)) ++g_resumed;
    ssl_ = ssl;
    return true;
}

bool Channel::Send(std::string_view data, bool byteAtATime, std::atomic<long long>& counter)
{
    size_t step = byteAtATime ? 1 : 64 * 1024;
    for (size_t off = 0; off < data.size(); off += step) {
        size_t n = std::min(step, data.size() - off);
        long done = ssl_ ? SSL_write(static_cast<SSL*>(ssl_), data.data() + off, static_cast<int>(n))
                         : ::send(fd_, data.data() + off, n, MSG_NOSIGNAL);
        if (done > 0) counter += done;
        if (done != static_cast<long>(n)) return false;
    }
    return true;
}

long Channel::Receive(char* buf, size_t size, int ms)
{
    if (!ssl_ || SSL_pending(static_cast<SSL*>(ssl_)) == 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return 0;
    }
    long n = ssl_ ? SSL_read(static_cast<SSL*>(ssl_), buf, static_cast<int>(size)) : ::recv(fd_, buf, size, 0);
    if (n > 0) return n;
    ERR_clear_error();
    return -1;
}

LoopbackServer::~LoopbackServer() { stop(); }

bool LoopbackServer::start()
{
    // A client may hang up before a TLS write (say, on a name its certificate check refused):
    // OpenSSL writes with write(), and the server should see an error, not die.
    std::signal(SIGPIPE, SIG_IGN);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) return false;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 8) != 0)
        return false;
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
}

void LoopbackServer::stop()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

std::vector<std::vector<std::string>> LoopbackServer::transcripts() const
{
    std::lock_guard lock(mutex_);
    return transcripts_;
}

std::vector<std::string> LoopbackServer::lastTranscript() const
{
    std::lock_guard lock(mutex_);
    return transcripts_.empty() ? std::vector<std::string>{} : transcripts_.back();
}

int LoopbackServer::connections() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(transcripts_.size());
}

void LoopbackServer::record(int connection, std::string line)
{
    std::lock_guard lock(mutex_);
    transcripts_[static_cast<size_t>(connection)].push_back(std::move(line));
}

bool LoopbackServer::receive(Channel& channel, std::string& buffer)
{
    char buf[4096];
    long n = channel.Receive(buf, sizeof buf, 20);
    if (n < 0) return false;
    buffer.append(buf, static_cast<size_t>(n));
    return true;
}

std::optional<std::string> LoopbackServer::takeLine(std::string& buffer, int connection)
{
    size_t eol = buffer.find("\r\n");
    if (eol == std::string::npos) return std::nullopt;
    std::string line = buffer.substr(0, eol);
    buffer.erase(0, eol + 2);
    record(connection, line);
    return line;
}

void LoopbackServer::run()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int connection;
        {
            std::lock_guard lock(mutex_);
            transcripts_.emplace_back();
            connection = static_cast<int>(transcripts_.size()) - 1;
        }
        auto serveOne = [this, fd, connection] {
            {
                Channel channel(fd);
                serve(channel, connection);
            }
            ::close(fd);
        };
        if (concurrent) workers_.emplace_back(serveOne);
        else serveOne();
    }
}
