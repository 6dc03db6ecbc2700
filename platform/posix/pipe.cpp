// Named pipes: what server and client ends share (reads, writes, waits, close).
#include "platform/pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "common/text.h"
#include "platform/event.h"
#include "platform/posix/internal.h"

int posixPipeSocketPath(const char *pipePath, char *out, size_t size) {
    if (posixIpcPath("p", pipePath, out, size) != 0) return -1;
    if (strlen(out) >= sizeof(sockaddr_un::sun_path)) {
        posixSetError(ENAMETOOLONG);
        return -1;
    }
    return 0;
}

int posixPipeLockPath(const char *socketPath, const char *suffix, char *out, size_t size) {
    return kvsFormat(out, size, "%s.%s", socketPath, suffix);
}

int posixPeerAllowed(int fd) {
    struct ucred peer = {};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return 0;
    return peer.uid == geteuid() || peer.uid == 0;
}

static int pipeResult(int result, int error) {
    posixSetError(error);
    return result;
}

static PosixObject *pipeObject(PlatHandle h) {
    PosixObject *pipe = posixHandleGet(h, POSIX_FREE);
    if (pipe != nullptr && pipe->kind != POSIX_PIPE_SERVER && pipe->kind != POSIX_PIPE_CLIENT) {
        posixSetError(EBADF);
        return nullptr;
    }
    return pipe;
}

// The other end has gone: the server answers BROKEN until it makes a new instance.
static int broken(PosixObject *pipe) {
    pipe->broken = 1;
    return pipeResult(PLAT_PIPE_BROKEN, EPIPE);
}

static int receive(PosixObject *pipe, void *buf, size_t size, size_t *got, int wait) {
    for (;;) {
        if (wait) {
            int ready = posixWaitFd(pipe->fd, POLLIN, -1, 0);
            if (ready == POSIX_WAIT_STOPPED) return pipeResult(PLAT_PIPE_INTERRUPTED, EINTR);
            if (ready == POSIX_WAIT_FAILED) return PLAT_PIPE_ERROR;
        }
        ssize_t n = recv(pipe->fd, buf, size, MSG_DONTWAIT);
        if (n > 0) {
            *got = static_cast<size_t>(n);
            return PLAT_PIPE_OK;
        }
        if (n == 0 || errno == ECONNRESET || errno == EPIPE) return broken(pipe);
        if (errno == EINTR || (wait && errno == EAGAIN)) continue;
        if (errno == EAGAIN) return pipeResult(PLAT_PIPE_NO_DATA, EAGAIN);
        posixKeepErrno();
        return PLAT_PIPE_ERROR;
    }
}

int platPipeRead(PlatHandle h, void *buf, size_t size, size_t *got) {
    size_t ignored = 0;
    if (got == nullptr) got = &ignored;
    *got = 0;
    PosixObject *pipe = pipeObject(h);
    if (pipe == nullptr) return PLAT_PIPE_ERROR;
    int wait = pipe->kind == POSIX_PIPE_CLIENT || !pipe->nonBlocking;
    if (pipe->kind == POSIX_PIPE_SERVER) {
        // A client that attached and wrote before this first look is served now.
        int attached = posixPipeAttach(pipe, wait);
        if (attached != PLAT_PIPE_OK) return attached;
    }
    if (pipe->broken) return pipeResult(PLAT_PIPE_BROKEN, EPIPE);
    if (size == 0) return PLAT_PIPE_OK;
    if (buf == nullptr) return pipeResult(PLAT_PIPE_ERROR, EFAULT);
    return receive(pipe, buf, size, got, wait);
}

static int sendAll(PosixObject *pipe, const char *data, size_t size, size_t *written) {
    int flags = MSG_NOSIGNAL | (pipe->nonBlocking ? MSG_DONTWAIT : 0);
    while (*written < size) {
        ssize_t n = send(pipe->fd, data + *written, size - *written, flags);
        if (n >= 0) {
            *written += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EPIPE || errno == ECONNRESET) return broken(pipe);
        // A full non-blocking pipe is a failure too, however much went out
        // (*written tells): the caller asked for all of it.
        posixKeepErrno();
        return PLAT_PIPE_ERROR;
    }
    return PLAT_PIPE_OK;
}

int platPipeWrite(PlatHandle h, const void *buf, size_t size, size_t *written) {
    size_t ignored = 0;
    if (written == nullptr) written = &ignored;
    *written = 0;
    PosixObject *pipe = pipeObject(h);
    if (pipe == nullptr) return PLAT_PIPE_ERROR;
    if (pipe->kind == POSIX_PIPE_SERVER) {
        int attached = posixPipeAttach(pipe, 0);
        if (attached != PLAT_PIPE_OK) return attached;
    }
    if (pipe->broken) return pipeResult(PLAT_PIPE_BROKEN, EPIPE);
    if (size > 0 && buf == nullptr) return pipeResult(PLAT_PIPE_ERROR, EFAULT);
    return sendAll(pipe, static_cast<const char *>(buf), size, written);
}

int platPipeWaitReadable(PlatHandle h, uint32_t timeoutMs) {
    PosixObject *pipe = pipeObject(h);
    if (pipe == nullptr) return -1;
    if (pipe->fd < 0) return pipeResult(-1, ENOTCONN);
    int limit = timeoutMs == PLAT_WAIT_INFINITE ? -1
                : timeoutMs > INT_MAX           ? INT_MAX
                                                : static_cast<int>(timeoutMs);
    int ready = posixWaitFd(pipe->fd, POLLIN, limit, 0);
    if (ready == POSIX_WAIT_STOPPED) return pipeResult(-1, EINTR);
    return ready == POSIX_WAIT_FAILED ? -1 : ready;
}

static void unlinkLockFile(const char *socketPath, const char *suffix) {
    char lockPath[POSIX_PATH_SIZE];
    if (posixPipeLockPath(socketPath, suffix, lockPath, sizeof lockPath) == 0) unlink(lockPath);
}

void posixPipeClose(PosixObject *pipe) {
    posixCloseFd(&pipe->fd);
    posixCloseFd(&pipe->listenFd);
    if (pipe->kind == POSIX_PIPE_SERVER && pipe->lockFd >= 0) {
        // Still holding the instance lock, so every file here is ours to remove;
        // the lock file goes last.
        unlink(pipe->path);
        unlinkLockFile(pipe->path, "client");
        unlinkLockFile(pipe->path, "lock");
    } else if (pipe->kind == POSIX_PIPE_CLIENT) {
        char lockPath[POSIX_PATH_SIZE];
        if (posixPipeLockPath(pipe->path, "client", lockPath, sizeof lockPath) == 0) {
            posixUnlinkIfSame(lockPath, pipe->lockFd);
        }
    }
    posixCloseFd(&pipe->lockFd);
}
