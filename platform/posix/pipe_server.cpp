// Named pipes, server end: one instance per name, one client at a time.
//
// The instance is a listening unix socket. The server holds an exclusive
// flock on "NAME.lock" for the instance's life, which tells a live server
// from the stale socket file of a crashed one. While a client is attached the
// listening socket is closed, so further clients are refused (busy).
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "common/text.h"
#include "platform/pipe.h"
#include "platform/posix/internal.h"

static int listenAt(PosixObject *pipe) {
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    kvsCopy(address.sun_path, sizeof address.sun_path, pipe->path);
    unlink(pipe->path);  // a stale socket of a crashed server, or our own earlier one
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0 ||
        chmod(pipe->path, 0600) != 0 || listen(fd, 1) != 0) {
        posixKeepErrno();
        posixCloseFd(&fd);
        return -1;
    }
    pipe->listenFd = fd;
    return 0;
}

int platPipeNameTaken(uint32_t code) {
    return code == EADDRINUSE;
}

PlatHandle platPipeCreate(const char *pipePath, int nonBlocking) {
    char path[POSIX_PATH_SIZE], lockPath[POSIX_PATH_SIZE];
    if (posixPipeSocketPath(pipePath, path, sizeof path) != 0) return PLAT_INVALID_HANDLE;
    posixPipeLockPath(path, "lock", lockPath, sizeof lockPath);
    int lockFd = posixLockFile(lockPath, LOCK_EX | LOCK_NB);
    if (lockFd < 0) {
        posixSetError(errno == EWOULDBLOCK ? EADDRINUSE : errno);
        return PLAT_INVALID_HANDLE;
    }
    PosixObject *pipe = nullptr;
    PlatHandle handle = posixHandleNew(POSIX_PIPE_SERVER, &pipe);
    if (handle == PLAT_INVALID_HANDLE) {
        posixCloseFd(&lockFd);
        return handle;
    }
    pipe->lockFd = lockFd;
    pipe->nonBlocking = nonBlocking ? 1 : 0;
    kvsCopy(pipe->path, sizeof pipe->path, path);
    if (listenAt(pipe) != 0) {
        int error = errno;
        platCloseHandle(handle);
        posixSetError(error);
        return PLAT_INVALID_HANDLE;
    }
    return handle;
}

// A connection from a process of another user is dropped at once.
static int acceptOne(PosixObject *pipe) {
    int flags = SOCK_CLOEXEC | (pipe->nonBlocking ? SOCK_NONBLOCK : 0);
    int fd = accept4(pipe->listenFd, nullptr, nullptr, flags);
    if (fd >= 0 && !posixPeerAllowed(fd)) {
        posixCloseFd(&fd);
        errno = EAGAIN;
    }
    return fd;
}

int posixPipeAttach(PosixObject *pipe, int wait) {
    if (pipe->fd >= 0) return PLAT_PIPE_OK;
    if (pipe->listenFd < 0 && listenAt(pipe) != 0) return PLAT_PIPE_ERROR;
    for (;;) {
        if (wait) {
            int ready = posixWaitFd(pipe->listenFd, POLLIN, -1, 0);
            if (ready == POSIX_WAIT_STOPPED) {
                posixSetError(EINTR);
                return PLAT_PIPE_INTERRUPTED;
            }
            if (ready == POSIX_WAIT_FAILED) return PLAT_PIPE_ERROR;
        }
        int fd = acceptOne(pipe);
        if (fd >= 0) {
            pipe->fd = fd;
            pipe->broken = 0;
            posixCloseFd(&pipe->listenFd);
            return PLAT_PIPE_OK;
        }
        if (errno == EINTR || errno == ECONNABORTED || (wait && errno == EAGAIN)) continue;
        if (errno == EAGAIN) {
            posixSetError(ENOTCONN);
            return PLAT_PIPE_NO_CLIENT;
        }
        posixKeepErrno();
        return PLAT_PIPE_ERROR;
    }
}

int platPipeConnect(PlatHandle h) {
    PosixObject *pipe = posixHandleGet(h, POSIX_PIPE_SERVER);
    if (pipe == nullptr) return PLAT_PIPE_ERROR;
    return posixPipeAttach(pipe, !pipe->nonBlocking);
}

int platPipeDisconnect(PlatHandle h) {
    PosixObject *pipe = posixHandleGet(h, POSIX_PIPE_SERVER);
    if (pipe == nullptr) return PLAT_PIPE_ERROR;
    posixCloseFd(&pipe->fd);
    pipe->broken = 0;
    // The dropped client may keep its handle open for a while; a new client
    // must not have to wait for that, so its lock file goes now.
    char lockPath[POSIX_PATH_SIZE];
    posixPipeLockPath(pipe->path, "client", lockPath, sizeof lockPath);
    unlink(lockPath);
    if (pipe->listenFd < 0 && listenAt(pipe) != 0) return PLAT_PIPE_ERROR;
    return PLAT_PIPE_OK;
}
