#include "platform/Keyring.h"

#include "platform/SecretService.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QMetaObject>
#include <QThread>
#include <qt6keychain/keychain.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace Keyring {
namespace {

enum class Op { Read, Write, Remove };

// One call, shared by the waiting caller and the keyring thread; whoever is later frees it.
struct Request {
    Op op;
    QString key;
    QString secret;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    Result result;
};

std::atomic<bool> g_cancelled{false};
std::atomic<bool> g_unlockAsked{false};
std::atomic<int> g_prompts{0};

// The thread every QtKeychain job runs on, with an event loop for their replies. Started on
// first use, stopped when the application object goes.
class KeyringThread {
public:
    static QThread* Get()
    {
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        if (!QCoreApplication::instance()) return nullptr;
        if (!thread_) {
            thread_ = new QThread;
            thread_->setObjectName(QStringLiteral("keyring"));
            context_ = new QObject;
            context_->moveToThread(thread_);
            thread_->start();
            qAddPostRoutine(&KeyringThread::Stop);
        }
        return thread_;
    }
    static QObject* Context() { return context_; }

private:
    static void Stop()
    {
        if (!thread_) return;
        QMetaObject::invokeMethod(
            context_, [] { delete context_; }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait(2000);
        delete thread_;
        thread_ = nullptr;
        context_ = nullptr;
    }
    static inline QThread* thread_ = nullptr;
    static inline QObject* context_ = nullptr;
};

Status StatusOf(QKeychain::Error error, const QString& text)
{
    switch (error) {
    case QKeychain::NoError:
        return Status::Ok;
    case QKeychain::EntryNotFound:
        return Status::NotFound;
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
        return Status::Locked;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        return Status::NoService;
    default:
        // libsecret words a locked collection only in its message.
        return text.contains(QStringLiteral("locked"), Qt::CaseInsensitive) ? Status::Locked : Status::Failed;
    }
}

// On the keyring thread.
void StartJob(const std::shared_ptr<Request>& request)
{
    // The keyring shows the service as the item's label: it names the program and the item.
    const QString service = kService + QStringLiteral(": ") + request->key;
    QKeychain::Job* job = nullptr;
    switch (request->op) {
    case Op::Read:
        job = new QKeychain::ReadPasswordJob(service);
        break;
    case Op::Write: {
        auto* write = new QKeychain::WritePasswordJob(service);
        write->setTextData(request->secret);
        job = write;
        break;
    }
    case Op::Remove:
        job = new QKeychain::DeletePasswordJob(service);
        break;
    }
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(request->key);
    QObject::connect(job, &QKeychain::Job::finished, job, [request](QKeychain::Job* finished) {
        Result result;
        result.status = StatusOf(finished->error(), finished->errorString());
        if (result.status == Status::Ok && request->op == Op::Read)
            result.secret = static_cast<QKeychain::ReadPasswordJob*>(finished)->textData();
        if (request->op == Op::Remove && result.status == Status::NotFound) result.status = Status::Ok;
        if (result.status != Status::Ok) result.detail = finished->errorString();
        {
            std::lock_guard lock(request->mutex);
            request->result = std::move(result);
            request->finished = true;
            request->secret.clear();
        }
        request->done.notify_all();
    });
    job->start();
}

Result Run(Op op, const QString& key, const QString& secret, std::chrono::milliseconds timeout)
{
    Result result;
    if (g_cancelled) {
        result.status = Status::Cancelled;
        return result;
    }
    switch (SecretService::Probe(static_cast<int>(timeout.count()))) {
    case SecretService::State::Absent:
        result.status = Status::NoService;
        return result;
    case SecretService::State::Locked:
        // One prompt per run; the answer shows at a later call.
        if (!g_unlockAsked.exchange(true)) {
            ++g_prompts;
            SecretService::RequestUnlock();
        }
        result.status = Status::Locked;
        return result;
    case SecretService::State::Unlocked:
    case SecretService::State::Other:
        break;
    }
    QThread* thread = KeyringThread::Get();
    if (!thread) {
        result.detail = QStringLiteral("no application object");
        return result;
    }
    if (QThread::currentThread() == thread) {
        result.detail = QStringLiteral("called on the keyring thread");
        return result;
    }
    auto request = std::make_shared<Request>();
    request->op = op;
    request->key = key;
    request->secret = secret;
    QMetaObject::invokeMethod(
        KeyringThread::Context(), [request] { StartJob(request); }, Qt::QueuedConnection);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(request->mutex);
    while (!request->finished) {
        if (g_cancelled) {
            result.status = Status::Cancelled;
            return result;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result.status = Status::TimedOut;
            return result;
        }
        // Short slices, so that Cancel() is seen within them.
        request->done.wait_for(lock, std::chrono::milliseconds(50));
    }
    return std::move(request->result);
}

} // namespace

Result Read(const QString& key, std::chrono::milliseconds timeout) { return Run(Op::Read, key, {}, timeout); }

Result Write(const QString& key, const QString& secret, std::chrono::milliseconds timeout)
{
    return Run(Op::Write, key, secret, timeout);
}

Result Remove(const QString& key, std::chrono::milliseconds timeout) { return Run(Op::Remove, key, {}, timeout); }

bool Available() { return SecretService::Probe() != SecretService::State::Absent; }

void Cancel() { g_cancelled = true; }

int UnlockPromptsAsked() { return g_prompts; }

} // namespace Keyring
