// Named events: a small state file in the IPC directory, mapped shared by
// every process that holds the event, with futex waits on it.
//
// Lifetime: each open handle holds a shared flock on the file. Creating and
// opening happen under the directory-wide "events.lock"; there, an exclusive
// flock that succeeds on the file proves that nobody holds the event any
// more (a crashed holder's locks are gone with it). Condition variables in
// shared memory are avoided on purpose: a waiter killed inside one can block
// every signaller for good.
#include "platform/event.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/posix/internal.h"

const uint32_t EVENT_MAGIC = 0x4B564576u;  // "KVEv"

struct EventState {
    uint32_t magic;
    uint32_t manualReset;
    uint32_t signaled;
    uint32_t seq;      // futex word: bumped by every set and pulse
    uint32_t waiters;  // waits in progress (a killed waiter leaves one too many)
    uint32_t pulses;   // pulse generation
    uint32_t token;    // auto reset: the pulse generation whose one release is unclaimed
};

static uint32_t load(const uint32_t *word) {
    return __atomic_load_n(word, __ATOMIC_SEQ_CST);
}
static void store(uint32_t *word, uint32_t value) {
    __atomic_store_n(word, value, __ATOMIC_SEQ_CST);
}
static uint32_t bump(uint32_t *word) {
    return __atomic_add_fetch(word, 1, __ATOMIC_SEQ_CST);
}
static int claim(uint32_t *word, uint32_t expected, uint32_t desired) {
    return __atomic_compare_exchange_n(word, &expected, desired, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

// Not FUTEX_PRIVATE: the word is shared with other processes.
static long futexWait(uint32_t *word, uint32_t seen, const struct timespec *limit) {
    return syscall(SYS_futex, word, FUTEX_WAIT, seen, limit, nullptr, 0);
}
static void futexWakeAll(uint32_t *word) {
    syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, 0);
}

// The directory-wide lock that serialises create, open and the last close.
static int lockDirectory() {
    char path[POSIX_PATH_SIZE];
    if (posixIpcFile("events.lock", path, sizeof path) != 0) return -1;
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 && posixLockRetrying(fd, LOCK_EX) != 0) posixCloseFd(&fd);
    if (fd < 0) posixKeepErrno();
    return fd;
}

static EventState *mapState(int fd, int fresh) {
    if (fresh && (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(EventState)) != 0)) return nullptr;
    struct stat info = {};
    if (fstat(fd, &info) != 0) return nullptr;
    if (info.st_size != static_cast<off_t>(sizeof(EventState))) {
        errno = EINVAL;  // not one of our state files
        return nullptr;
    }
    void *map = mmap(nullptr, sizeof(EventState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return map == MAP_FAILED ? nullptr : static_cast<EventState *>(map);
}

static void initState(EventState *state, int manualReset, int signaled) {
    memset(state, 0, sizeof *state);
    store(&state->manualReset, manualReset ? 1 : 0);
    store(&state->signaled, signaled ? 1 : 0);
    store(&state->magic, EVENT_MAGIC);
}

// Holds the event through fd (shared lock), maps it and makes the handle.
static PlatHandle adopt(const char *path, int fd, int fresh, int manualReset, int signaled) {
    EventState *state = nullptr;
    if (posixLockRetrying(fd, LOCK_SH) != 0 || (state = mapState(fd, fresh)) == nullptr) {
        posixKeepErrno();
        return PLAT_INVALID_HANDLE;
    }
    if (fresh) initState(state, manualReset, signaled);
    if (load(&state->magic) != EVENT_MAGIC) {
        munmap(state, sizeof *state);
        posixSetError(EINVAL);
        return PLAT_INVALID_HANDLE;
    }
    PosixObject *event = nullptr;
    PlatHandle handle = posixHandleNew(POSIX_EVENT, &event);
    if (handle == PLAT_INVALID_HANDLE) {
        munmap(state, sizeof *state);
        return handle;
    }
    event->fd = fd;
    event->shared = state;
    kvsCopy(event->path, sizeof event->path, path);
    return handle;
}

// Under the directory lock: opens the state file at path. *live tells whether
// another handle holds it; a file nobody holds is removed unless create != 0.
static int openState(const char *path, int create, int *live) {
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    int fd = open(path, flags, 0600);
    if (fd < 0) return -1;
    *live = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!*live && !create) {
        unlink(path);  // left behind by a holder that crashed
        posixCloseFd(&fd);
        errno = ENOENT;
    }
    return fd;
}

static PlatHandle createOrOpen(const char *name, int create, int manualReset, int signaled) {
    char path[POSIX_PATH_SIZE];
    if (posixIpcPath("e", name, path, sizeof path) != 0) return PLAT_INVALID_HANDLE;
    int dirLock = lockDirectory();
    if (dirLock < 0) return PLAT_INVALID_HANDLE;
    int live = 0;
    int fd = openState(path, create, &live);
    PlatHandle handle = PLAT_INVALID_HANDLE;
    if (fd < 0) {
        posixKeepErrno();
    } else {
        handle = adopt(path, fd, !live, manualReset, signaled);
        if (handle == PLAT_INVALID_HANDLE) posixCloseFd(&fd);
    }
    posixCloseFd(&dirLock);
    return handle;
}

PlatHandle platEventCreate(const char *name, int manualReset, int initiallySignaled) {
    return createOrOpen(name, 1, manualReset, initiallySignaled);
}

PlatHandle platEventOpen(const char *name) {
    return createOrOpen(name, 0, 0, 0);
}

void posixEventClose(PosixObject *event) {
    int dirLock = lockDirectory();
    // The last holder removes the name; under the directory lock nobody can
    // be opening it meanwhile.
    if (dirLock >= 0 && flock(event->fd, LOCK_EX | LOCK_NB) == 0) unlink(event->path);
    if (event->shared != nullptr) munmap(event->shared, sizeof(EventState));
    event->shared = nullptr;
    posixCloseFd(&event->fd);
    posixCloseFd(&dirLock);
}

static EventState *eventState(PlatHandle h) {
    PosixObject *event = posixHandleGet(h, POSIX_EVENT);
    return event != nullptr ? static_cast<EventState *>(event->shared) : nullptr;
}

static void wakeWaiters(EventState *state) {
    bump(&state->seq);
    futexWakeAll(&state->seq);
}

int platEventSet(PlatHandle h) {
    EventState *state = eventState(h);
    if (state == nullptr) return 0;
    store(&state->signaled, 1);
    wakeWaiters(state);
    return 1;
}

int platEventReset(PlatHandle h) {
    EventState *state = eventState(h);
    if (state == nullptr) return 0;
    store(&state->signaled, 0);
    return 1;
}

int platEventPulse(PlatHandle h) {
    EventState *state = eventState(h);
    if (state == nullptr) return 0;
    store(&state->signaled, 0);
    if (load(&state->waiters) == 0) return 1;
    uint32_t generation = bump(&state->pulses);
    if (!load(&state->manualReset)) store(&state->token, generation);
    wakeWaiters(state);
    return 1;
}

// Whether a waiter that began at pulse generation since may go now; on an
// auto-reset event going consumes the signal or the pulse.
static int tryRelease(EventState *state, uint32_t since) {
    if (load(&state->manualReset)) {
        return load(&state->signaled) != 0 || load(&state->pulses) != since;
    }
    if (claim(&state->signaled, 1, 0)) return 1;
    uint32_t token = load(&state->token);
    return token != 0 && static_cast<int32_t>(token - since) > 0 && claim(&state->token, token, 0);
}

static struct timespec msToTimespec(int ms) {
    struct timespec span = {static_cast<time_t>(ms / 1000),
                            static_cast<long>(ms % 1000) * 1000000L};
    return span;
}

static int waitState(EventState *state, uint32_t timeoutMs) {
    int infinite = timeoutMs == PLAT_WAIT_INFINITE;
    int64_t deadline = platMonotonicMs() + (infinite ? 0 : timeoutMs);
    uint32_t since = load(&state->pulses);
    for (;;) {
        uint32_t seen = load(&state->seq);  // before the test, so no wake-up is missed
        if (tryRelease(state, since)) return PLAT_WAIT_SIGNALED;
        int left = infinite ? -1 : posixMsLeft(deadline);
        if (left == 0) return PLAT_WAIT_TIMEOUT;
        struct timespec span = msToTimespec(left);
        if (futexWait(&state->seq, seen, infinite ? nullptr : &span) != 0 && errno != EAGAIN &&
            errno != EINTR && errno != ETIMEDOUT) {
            posixKeepErrno();
            return PLAT_WAIT_FAILED;
        }
    }
}

int platEventWait(PlatHandle h, uint32_t timeoutMs) {
    EventState *state = eventState(h);
    if (state == nullptr) return PLAT_WAIT_FAILED;
    __atomic_add_fetch(&state->waiters, 1, __ATOMIC_SEQ_CST);
    int result = waitState(state, timeoutMs);
    __atomic_sub_fetch(&state->waiters, 1, __ATOMIC_SEQ_CST);
    return result;
}
