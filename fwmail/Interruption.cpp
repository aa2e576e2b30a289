#include "fwmail/Interruption.h"

#include "maillib/MailLib.h"
#include "signin/CredentialSource.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>

namespace fwmail {
namespace {

std::atomic<int> interrupting{0};

sigset_t Watched()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    return set;
}

} // namespace

void WatchInterruptions()
{
    const sigset_t set = Watched();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // Never joined: the process ends with the watcher still waiting, or by the signal.
    std::thread([set] {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) return;
        interrupting.store(sig);
        // The transfer in flight ends within a moment, as does a wait on the keyring or a token
        // endpoint; the check returns and the caller cleans up.
        maillib::CancelChecks();
        signin::CancelSignIns();
    }).detach();
}

int InterruptingSignal() { return interrupting.load(); }

void EndIfInterrupted()
{
    const int sig = interrupting.load();
    if (sig == 0) return;
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(sig);
}

} // namespace fwmail
