// Named events: a small state file in the IPC directory, mapped shared by
// every process that holds the event, with futex waits on it.
//
// Lifetime: each open handle holds a shared flock on the file, and an
// exclusive flock that succeeds proves that nobody holds the event any more
// (a crashed holder's locks are gone with it). Opening a live event and
// closing a handle that is not the last take no other lock; creating, the
// removal of a crashed holder's file and the last close (which removes the
// name) happen under the directory-wide "events.lock". An opener that waited
// for its shared lock checks the file's link count, since the last holder may
// have removed the name meanwhile. Condition variables in
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

// The directory-wide lock that serialises create, the removal of a stale
// file and the last close. Nobody waits for an event file's lock while
// holding it, so a last closer may wait for it while holding its file.
static int lockDirectory(int make) {
    char path[POSIX_PATH_SIZE];
    if (posixIpcFile("events.lock", path, sizeof path) != 0) return -1;
    for (int again = make;; again = 0) {
        int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 && posixLockRetrying(fd, LOCK_EX) != 0) posixCloseFd(&fd);
        if (fd >= 0) return fd;
        if (!again || !posixIpcRetry(errno)) break;  // the directory has gone: made again
    }
    posixKeepErrno();
    return -1;
}

static EventState *mapState(int fd) {
    void *map = mmap(nullptr, sizeof(EventState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return map == MAP_FAILED ? nullptr : static_cast<EventState *>(map);
}

static void initState(EventState *state, int manualReset, int signaled) {
    memset(state, 0, sizeof *state);
    store(&state->manualReset, manualReset ? 1 : 0);
    store(&state->signaled, signaled ? 1 : 0);
    store(&state->magic, EVENT_MAGIC);
}

static PlatHandle makeHandle(const char *path, int fd, EventState *state) {
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

enum HoldResult {
    HOLD_OK = 0,
    HOLD_AGAIN,   // the file was removed or is still being made: look again
    HOLD_FAILED,  // the last error tells why
};

// Holds a live event's file: a shared lock, then the proof that the file is
// still the name's (a last close may have removed it while we waited) and
// one of ours. On any result but HOLD_OK fd is closed.
static int holdLive(int fd, EventState **state) {
    struct stat info = {};
    int result = HOLD_FAILED;
    if (posixLockRetrying(fd, LOCK_SH) != 0 || fstat(fd, &info) != 0) {
        posixKeepErrno();
    } else if (info.st_nlink == 0 || info.st_size == 0) {
        result = HOLD_AGAIN;  // removed, or made and not yet filled in
    } else if (info.st_size != static_cast<off_t>(sizeof(EventState))) {
        posixSetError(EINVAL);  // not one of our state files
    } else if ((*state = mapState(fd)) == nullptr) {
        posixKeepErrno();
    } else if (load(&(*state)->magic) != EVENT_MAGIC) {
        munmap(*state, sizeof(EventState));
        posixSetError(EINVAL);
    } else {
        return HOLD_OK;
    }
    posixCloseFd(&fd);
    return result;
}

// Fills a file that nobody holds (new, or left by a crashed holder) while
// its exclusive lock keeps every opener out, then holds it shared.
static EventState *freshState(int fd, int manualReset, int signaled) {
    EventState *state = nullptr;
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, sizeof(EventState)) != 0 ||
        (state = mapState(fd)) == nullptr) {
        posixKeepErrno();
        return nullptr;
    }
    initState(state, manualReset, signaled);
    if (posixLockRetrying(fd, LOCK_SH) == 0) return state;
    posixKeepErrno();
    munmap(state, sizeof *state);
    return nullptr;
}

// A name is tried again when a race made the file go under us; the bound
// only keeps a pathological churn from spinning for ever.
const int EVENT_TRIES = 100;

static PlatHandle createEvent(const char *path, int manualReset, int signaled) {
    for (int tries = 0; tries < EVENT_TRIES; tries++) {
        int dirLock = lockDirectory(1);
        if (dirLock < 0) return PLAT_INVALID_HANDLE;
        int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            posixKeepErrno();
            posixCloseFd(&dirLock);
            return PLAT_INVALID_HANDLE;
        }
        EventState *state = nullptr;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            state = freshState(fd, manualReset, signaled);
            posixCloseFd(&dirLock);
            if (state != nullptr) return makeHandle(path, fd, state);
            posixCloseFd(&fd);
            return PLAT_INVALID_HANDLE;
        }
        // Held by someone: it lives, or its last holder is removing it.
        posixCloseFd(&dirLock);
        int held = holdLive(fd, &state);
        if (held == HOLD_OK) return makeHandle(path, fd, state);
        if (held == HOLD_FAILED) return PLAT_INVALID_HANDLE;
    }
    posixSetError(EAGAIN);
    return PLAT_INVALID_HANDLE;
}

// Under the directory lock: removes the file at path when nobody holds it
// (its holder crashed). 1 when it turned out to be held after all.
static int removeIfStale(const char *path) {
    int dirLock = lockDirectory(0);
    if (dirLock < 0) return 0;
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    int held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0 && !held) unlink(path);
    posixCloseFd(&fd);
    posixCloseFd(&dirLock);
    return held;
}

// The common path takes no directory lock: open, a try of the exclusive lock
// that proves somebody holds the event, then holdLive.
static PlatHandle openEvent(const char *path) {
    for (int tries = 0; tries < EVENT_TRIES; tries++) {
        int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && errno != ENOENT) {
            posixKeepErrno();
            return PLAT_INVALID_HANDLE;
        }
        if (fd < 0) break;
        EventState *state = nullptr;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            posixCloseFd(&fd);  // no lock of ours may wait for the directory lock
            if (removeIfStale(path)) continue;
            break;
        }
        int held = holdLive(fd, &state);
        if (held == HOLD_OK) return makeHandle(path, fd, state);
        if (held == HOLD_FAILED) return PLAT_INVALID_HANDLE;
    }
    posixSetError(ENOENT);
    return PLAT_INVALID_HANDLE;
}

PlatHandle platEventCreate(const char *name, int manualReset, int initiallySignaled) {
    char path[POSIX_PATH_SIZE];
    if (posixIpcPath("e", name, path, sizeof path) != 0) return PLAT_INVALID_HANDLE;
    return createEvent(path, manualReset, initiallySignaled);
}

PlatHandle platEventOpen(const char *name) {
    char path[POSIX_PATH_SIZE];
    if (posixIpcPath("e", name, path, sizeof path) != 0) return PLAT_INVALID_HANDLE;
    return openEvent(path);
}

// The exclusive lock succeeds only for the last holder; then, under the
// directory lock, no creator can be between its open and its own try.
void posixEventClose(PosixObject *event) {
    if (event->shared != nullptr) munmap(event->shared, sizeof(EventState));
    event->shared = nullptr;
    if (event->fd >= 0 && flock(event->fd, LOCK_EX | LOCK_NB) == 0) {
        int dirLock = lockDirectory(0);
        if (dirLock >= 0) unlink(event->path);
        posixCloseFd(&dirLock);
    }
    posixCloseFd(&event->fd);
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
    if (state == nullptr) return EBADF;
    store(&state->signaled, 1);
    wakeWaiters(state);
    return 0;
}

int platEventReset(PlatHandle h) {
    EventState *state = eventState(h);
    if (state == nullptr) return EBADF;
    store(&state->signaled, 0);
    return 0;
}

int platEventPulse(PlatHandle h) {
    EventState *state = eventState(h);
    if (state == nullptr) return EBADF;
    store(&state->signaled, 0);
    if (load(&state->waiters) == 0) return 0;
    uint32_t generation = bump(&state->pulses);
    if (!load(&state->manualReset)) store(&state->token, generation);
    wakeWaiters(state);
    return 0;
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

static PlatWaitResult waitState(EventState *state, uint32_t timeoutMs) {
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

PlatWaitResult platEventWait(PlatHandle h, uint32_t timeoutMs) {
    EventState *state = eventState(h);
    if (state == nullptr) return PLAT_WAIT_FAILED;
    __atomic_add_fetch(&state->waiters, 1, __ATOMIC_SEQ_CST);
    PlatWaitResult result = waitState(state, timeoutMs);
    __atomic_sub_fetch(&state->waiters, 1, __ATOMIC_SEQ_CST);
    return result;
}
