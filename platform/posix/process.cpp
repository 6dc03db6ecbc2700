// Processes: start from a command line, open by id, read the executable name.
//
// Children are started without being waited for, yet an ended child stays a
// zombie - still "alive" to kill(pid, 0) - until reaped. So the ids of our
// children are kept and reaped one by one at every process call; never
// waitpid(-1), which would steal the children of other parts of the program.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "common/text.h"
#include "platform/posix/cmdline.h"
#include "platform/posix/internal.h"

extern char **environ;

const int MAX_CHILDREN = 1024;
const size_t COMMAND_LINE_SIZE = 32768;  // the Windows limit of a command line
const int MAX_WORDS = 4096;

static pid_t children[MAX_CHILDREN];
static std::mutex childrenLock;

// A look without reaping comes first: while no child has ended (the common
// case, with hundreds of workers running) that is one call instead of one
// per child.
static int anyChildEnded() {
    siginfo_t info = {};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != ECHILD;
    return info.si_pid != 0;
}

static void reapChildren() {
    std::lock_guard<std::mutex> guard(childrenLock);
    if (!anyChildEnded()) return;
    for (pid_t &child : children) {
        if (child == 0) continue;
        int status = 0;
        pid_t rc = waitpid(child, &status, WNOHANG);
        if (rc == child || (rc < 0 && errno == ECHILD)) child = 0;
    }
}

// A child that finds no free slot still runs; it is only not reaped.
static void rememberChild(pid_t pid) {
    std::lock_guard<std::mutex> guard(childrenLock);
    for (pid_t &child : children) {
        if (child == 0) {
            child = pid;
            return;
        }
    }
}

struct SplitLine {
    char buffer[COMMAND_LINE_SIZE];
    char *words[MAX_WORDS + 1];
};

// The child starts clean: default signal dispositions, nothing blocked, and
// no descriptor beyond the standard three, whoever opened it. It gets a
// process group of its own, so a Ctrl-C on the service's terminal reaches
// the service alone, which then checks and stops its workers in order.
static int spawn(char **words, pid_t *child) {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    int rc = posix_spawnp(child, words[0], &actions, &attr, words, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

uint32_t platProcessStart(const char *commandLine, uint32_t *pid) {
    reapChildren();
    SplitLine *line = new (std::nothrow) SplitLine;
    int rc = line == nullptr ? ENOMEM : 0;
    if (rc == 0) {
        int count = posixSplitCommandLine(commandLine, line->buffer, sizeof line->buffer,
                                          line->words, MAX_WORDS);
        rc = count < 0 ? E2BIG : count == 0 ? EINVAL : 0;
        if (rc == 0) line->words[count] = nullptr;
    }
    pid_t child = 0;
    if (rc == 0) rc = spawn(line->words, &child);
    delete line;
    if (rc != 0) {
        posixSetError(rc);
        return static_cast<uint32_t>(rc);
    }
    rememberChild(child);
    if (pid != nullptr) *pid = static_cast<uint32_t>(child);
    return 0;
}

// The state letter of /proc/PID/stat ('Z' zombie, 'X' dead), or '?' unread.
static char processState(pid_t pid) {
    char path[64], text[512];
    kvsFormat(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return '?';
    ssize_t n = read(fd, text, sizeof text - 1);
    posixCloseFd(&fd);
    if (n <= 0) return '?';
    text[n] = '\0';
    const char *end = strrchr(text, ')');  // the name in brackets may hold anything
    return end != nullptr && end[1] == ' ' ? end[2] : '?';
}

static int exists(uint32_t id) {
    if (id == 0 || id > 0x7FFFFFFFu) return 0;  // 0 would mean our process group
    pid_t pid = static_cast<pid_t>(id);
    if (kill(pid, 0) != 0 && errno != EPERM) return 0;
    char state = processState(pid);
    return state != 'Z' && state != 'X';
}

PlatHandle platProcessOpen(uint32_t pid) {
    reapChildren();
    if (!exists(pid)) {
        posixSetError(ESRCH);
        return PLAT_INVALID_HANDLE;
    }
    PosixObject *process = nullptr;
    PlatHandle handle = posixHandleNew(POSIX_PROCESS, &process);
    if (handle != PLAT_INVALID_HANDLE) process->pid = pid;
    return handle;
}

static const char *baseName(char *path) {
    static const char DELETED[] = " (deleted)";
    size_t length = strlen(path), suffix = sizeof DELETED - 1;
    if (length > suffix && strcmp(path + length - suffix, DELETED) == 0)
        path[length - suffix] = '\0';
    const char *slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

int platProcessModuleName(PlatHandle h, char *out, size_t size) {
    reapChildren();
    PosixObject *process = posixHandleGet(h, POSIX_PROCESS);
    if (process == nullptr) return EBADF;
    if (out == nullptr || size == 0) {
        posixSetError(EINVAL);
        return EINVAL;
    }
    char link[64], target[POSIX_PATH_SIZE];
    kvsFormat(link, sizeof link, "/proc/%u/exe", process->pid);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) {
        int code = n < 0 && errno != 0 ? errno : ENOENT;
        posixSetError(code);
        return code;
    }
    target[n] = '\0';
    kvsCopy(out, size, baseName(target));
    return 0;
}

int platProcessAlive(uint32_t pid) {
    reapChildren();
    return exists(pid);
}

uint32_t platProcessSelf() {
    return static_cast<uint32_t>(getpid());
}
