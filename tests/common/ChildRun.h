#pragma once
// Runs a piece of a test in a forked child: for code that may block, may grow without bound,
// or must run under another user, and to see exactly what it writes to stderr.
#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

struct ChildResult {
    bool exited = false;   // false when killed, e.g. by the time limit
    int code = -1;         // exit code when exited, else the signal
    QByteArray stderrText; // everything the child wrote to stderr
};

// `body` returns the child's exit code. After `seconds` the child is killed by SIGALRM.
inline ChildResult RunInChild(const std::function<int()>& body, unsigned seconds = 10)
{
    ChildResult result;
    // A pipe, not a file: a file size limit set by the child must not cut what it says.
    int errors[2];
    if (::pipe(errors) != 0) return result;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(errors[0]);
        ::dup2(errors[1], STDERR_FILENO);
        ::close(errors[1]);
        std::signal(SIGALRM, SIG_DFL);
        ::alarm(seconds);
        const int code = body();
        std::fflush(stderr);
        ::_exit(code);
    }
    ::close(errors[1]);
    char buf[4096];
    for (ssize_t n; (n = ::read(errors[0], buf, sizeof buf)) != 0;) {
        if (n > 0) result.stderrText.append(buf, n);
        else if (errno != EINTR) break;
    }
    ::close(errors[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return result;
    result.exited = WIFEXITED(status);
    result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return result;
}
