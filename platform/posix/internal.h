// Private to the POSIX implementation: the pieces its files share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handle.h"

// Records code as the calling thread's last platform error (errno too).
void posixSetError(int code);

// Records errno as it stands as the last platform error.
void posixKeepErrno();

// The read end of the stop-signal self-pipe, -1 before platStopSignalsInstall.
int posixStopFd();

enum PosixWaitResult {
    POSIX_WAIT_READY = 1,
    POSIX_WAIT_TIMEOUT = 0,
    POSIX_WAIT_FAILED = -1,   // the last error tells why
    POSIX_WAIT_STOPPED = -2,  // a stop signal arrived, now or earlier
};

// Waits up to timeoutMs (negative: no limit) until fd reports one of events
// (POLLIN / POLLOUT; errors and hang-ups count as ready). A stop signal ends
// the wait unless ignoreStop != 0.
int posixWaitFd(int fd, short events, int timeoutMs, int ignoreStop);

// Closes fd when it is open and sets it to -1, keeping errno intact.
void posixCloseFd(int *fd);

// Milliseconds left until deadline (a platMonotonicMs value), never below 0.
int posixMsLeft(int64_t deadline);

// ---- Handles: one table of objects; a PlatHandle is a slot index + 1. ----

enum PosixKind {
    POSIX_FREE = 0,
    POSIX_PIPE_SERVER,
    POSIX_PIPE_CLIENT,
    POSIX_EVENT,
    POSIX_PROCESS,
};

// Room for an object's path: the IPC directory plus the encoded name.
const size_t POSIX_PATH_SIZE = 1024;

struct PosixObject {
    int kind;
    int fd;                      // pipe: the connection; event: the shared state file
    int listenFd;                // pipe server: listening socket, -1 while a client is attached
    int lockFd;                  // pipe server: the instance lock; pipe client: the client lock
    int nonBlocking;             // pipe server
    int broken;                  // pipe server: the client has closed its end
    void *shared;                // event: the mapped state
    uint32_t pid;                // process
    char path[POSIX_PATH_SIZE];  // pipe: socket path (lock files add a suffix); event: file
};

// A new zeroed object of kind with every descriptor -1, or PLAT_INVALID_HANDLE
// (ENOMEM or EMFILE as last error) when none can be had.
PlatHandle posixHandleNew(int kind, PosixObject **object);

// The object of an open handle of kind (POSIX_FREE: any kind), or nullptr
// with EBADF as last error.
PosixObject *posixHandleGet(PlatHandle h, int kind);

// Releases the slot of h; the kind's own resources must be gone already.
void posixHandleRelease(PlatHandle h);

// Kind-specific closing, called by platCloseHandle.
void posixPipeClose(PosixObject *object);
void posixEventClose(PosixObject *object);

// ---- The per-user directory of named pipes and events. ----

// Writes "DIR/PREFIX.ENCODED-NAME" into out. Returns 0, or -1 with the last
// error set (EACCES for an unsafe directory, ENAMETOOLONG, EINVAL for an
// empty name).
int posixIpcPath(const char *prefix, const char *name, char *out, size_t size);

// Writes "DIR/FILE" into out; 0 or -1 as above.
int posixIpcFile(const char *file, char *out, size_t size);

// The directory is checked once (platIpcDirCheck, or the first lookup) and
// then only named. After an operation in it failed with error: 1 when error
// is ENOENT because the directory itself has gone and it has been made (and
// checked) again, so that one more try is worth it; 0 otherwise.
int posixIpcRetry(int error);

// flock() that goes on after an interrupting signal. 0 or -1 (errno set).
int posixLockRetrying(int fd, int how);

// Opens (creating, mode 0600) the lock file at path and takes flock(how) on
// it, making sure the file locked is still the one at path, since holders
// remove their lock files. The descriptor, or -1 with errno (EWOULDBLOCK when
// LOCK_NB was given and the lock is taken).
int posixLockFile(const char *path, int how);

// 1 when a process holds an exclusive lock on the file at path.
int posixLockHeld(const char *path);

// Removes the file at path only while it is still the file open as fd.
void posixUnlinkIfSame(const char *path, int fd);

// ---- Named pipes (unix stream sockets in the IPC directory). ----

// The socket path of a pipe name; 0, or -1 with the last error set
// (ENAMETOOLONG when it does not fit a socket address).
int posixPipeSocketPath(const char *pipePath, char *out, size_t size);

// path + "." + suffix: the pipe's lock files ("lock": the server instance,
// "client": the one attached client).
int posixPipeLockPath(const char *socketPath, const char *suffix, char *out, size_t size);

// 1 when the process at the other end of the connection fd runs as our user
// or as the superuser.
int posixPeerAllowed(int fd);

// Server: takes a waiting client onto the instance; wait != 0 blocks for one.
// PLAT_PIPE_OK, PLAT_PIPE_NO_CLIENT, PLAT_PIPE_INTERRUPTED or PLAT_PIPE_ERROR.
int posixPipeAttach(PosixObject *pipe, int wait);
