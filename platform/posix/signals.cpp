// Stop requests (SIGTERM, SIGINT) and the self-pipe that wakes every wait.
#include "platform/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/clock.h"
#include "platform/posix/internal.h"

static volatile sig_atomic_t stopFlag = 0;
// Written once by the handler and never drained, so every later wait sees the
// stop at once, not just the one running when it arrived.
static int stopPipe[2] = {-1, -1};

static void onStopSignal(int) {
    int saved = errno;
    stopFlag = 1;
    char byte = 1;
    ssize_t ignored = write(stopPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

void platStopSignalsInstall() {
    if (stopPipe[0] < 0 && pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        stopPipe[0] = stopPipe[1] = -1;
    }
    struct sigaction stop = {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no SA_RESTART: blocking calls return with EINTR
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    // No other signal ends the process without its shutdown: a closed
    // terminal (SIGHUP) or a stray kill -USR1 would otherwise leave workers
    // and job rows behind. Children start with default dispositions.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    const int ignored[] = {SIGPIPE, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
    for (int sig : ignored) sigaction(sig, &ignore, nullptr);
}

int platStopRequested() {
    return stopFlag ? 1 : 0;
}

void platLineBufferedStdout() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
}

int posixStopFd() {
    return stopPipe[0];
}

static int pollOnce(int fd, short events, int timeoutMs, int watchStop) {
    struct pollfd fds[2] = {{fd, events, 0}, {posixStopFd(), POLLIN, 0}};
    int count = poll(fds, watchStop ? 2 : 1, timeoutMs);
    if (count < 0) {
        if (errno == EINTR) return POSIX_WAIT_TIMEOUT;  // the caller looks at the stop flag
        posixKeepErrno();
        return POSIX_WAIT_FAILED;
    }
    if (watchStop && fds[1].revents != 0) return POSIX_WAIT_STOPPED;
    if (fds[0].revents & POLLNVAL) {
        posixSetError(EBADF);
        return POSIX_WAIT_FAILED;
    }
    return fds[0].revents != 0 ? POSIX_WAIT_READY : POSIX_WAIT_TIMEOUT;
}

int posixWaitFd(int fd, short events, int timeoutMs, int ignoreStop) {
    if (fd < 0) {
        posixSetError(EBADF);
        return POSIX_WAIT_FAILED;
    }
    int watchStop = !ignoreStop && posixStopFd() >= 0;
    if (!ignoreStop && stopFlag) return POSIX_WAIT_STOPPED;
    int64_t deadline = platMonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        int result = pollOnce(fd, events, timeoutMs < 0 ? -1 : posixMsLeft(deadline), watchStop);
        if (result != POSIX_WAIT_TIMEOUT) return result;
        if (!ignoreStop && stopFlag) return POSIX_WAIT_STOPPED;
        if (timeoutMs >= 0 && posixMsLeft(deadline) == 0) return POSIX_WAIT_TIMEOUT;
    }
}

void posixCloseFd(int *fd) {
    if (*fd < 0) return;
    int saved = errno;
    close(*fd);
    errno = saved;
    *fd = -1;
}
