// Named pipes, client end. A client holds an exclusive flock on "NAME.client"
// while attached, so a second client is told busy before it ever connects.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "common/text.h"
#include "platform/pipe.h"
#include "platform/posix/internal.h"

// No connection to be had: busy while a live server holds the instance lock,
// otherwise there is no server at all.
static int unavailable(const char *socketPath) {
    char lockPath[POSIX_PATH_SIZE];
    posixPipeLockPath(socketPath, "lock", lockPath, sizeof lockPath);
    if (posixLockHeld(lockPath)) {
        posixSetError(EBUSY);
        return PLAT_PIPE_BUSY;
    }
    posixSetError(ENOENT);
    return PLAT_PIPE_NOT_FOUND;
}

// Non-blocking connect, so a full backlog shows as EAGAIN instead of a wait.
static int connectTo(const char *socketPath) {
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    kvsCopy(address.sun_path, sizeof address.sun_path, socketPath);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        posixCloseFd(&fd);
        return -1;
    }
    if (!posixPeerAllowed(fd)) {
        posixCloseFd(&fd);
        errno = EACCES;
    }
    return fd;
}

static int isRefusal(int error) {
    return error == ENOENT || error == ECONNREFUSED || error == EAGAIN;
}

static PlatHandle attached(const char *socketPath, int fd, int lockFd, int *result) {
    PosixObject *pipe = nullptr;
    PlatHandle handle = posixHandleNew(POSIX_PIPE_CLIENT, &pipe);
    if (handle == PLAT_INVALID_HANDLE) return handle;
    pipe->fd = fd;
    pipe->lockFd = lockFd;
    kvsCopy(pipe->path, sizeof pipe->path, socketPath);
    *result = PLAT_PIPE_OK;
    return handle;
}

PlatHandle platPipeOpen(const char *pipePath, int *result) {
    int ignored = 0;
    if (result == nullptr) result = &ignored;
    *result = PLAT_PIPE_ERROR;
    char path[POSIX_PATH_SIZE], lockPath[POSIX_PATH_SIZE];
    if (posixPipeSocketPath(pipePath, path, sizeof path) != 0) return PLAT_INVALID_HANDLE;
    posixPipeLockPath(path, "client", lockPath, sizeof lockPath);
    int lockFd = posixLockFile(lockPath, LOCK_EX | LOCK_NB);
    if (lockFd < 0) {
        if (errno == EWOULDBLOCK)
            *result = unavailable(path);
        else
            posixKeepErrno();
        return PLAT_INVALID_HANDLE;
    }
    int fd = connectTo(path);
    if (fd >= 0) {
        PlatHandle handle = attached(path, fd, lockFd, result);
        if (handle != PLAT_INVALID_HANDLE) return handle;
        posixCloseFd(&fd);
    }
    int error = errno;
    posixUnlinkIfSame(lockPath, lockFd);
    posixCloseFd(&lockFd);
    if (isRefusal(error))
        *result = unavailable(path);
    else
        posixSetError(error);
    return PLAT_INVALID_HANDLE;
}
