// The directory that holds this user's named pipes and events, the mapping of
// object names onto file names in it, and the lock files that guard them.
#include "platform/ipc_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/text.h"
#include "platform/handle.h"
#include "platform/posix/internal.h"

static const char PIPE_PREFIX[] = "\\\\.\\pipe\\";

static int fail(int error) {
    posixSetError(error);
    return -1;
}

// mkdir -p; every directory it makes gets mode 0700 (the umask could leave
// less). Failures on the way (existing parts, parts we may not write) show in
// the check that follows.
static void makeDirs(const char *path) {
    char partial[POSIX_PATH_SIZE];
    if (kvsCopy(partial, sizeof partial, path)) return;
    for (char *c = partial + 1;; c++) {
        if (*c != '/' && *c != '\0') continue;
        char end = *c;
        *c = '\0';
        if (mkdir(partial, 0700) == 0) chmod(partial, 0700);
        *c = end;
        if (end == '\0') return;
    }
}

static void describe(char *problem, size_t size, const char *path, const char *what) {
    kvsFormat(problem, size,
              "IPC-Verzeichnis %s abgelehnt: %s; verlangt: ein Verzeichnis des Benutzers %u "
              "ohne Zugriff f\xFCr Gruppe und andere (0700)\n",
              path, what, static_cast<unsigned>(geteuid()));
}

// The path itself is looked at (lstat): a symbolic link of someone else's
// could point anywhere. In /tmp another user may have made our default
// directory first; a configured one may be anybody's.
static int checkDir(const char *path, int parents, char *problem, size_t size) {
    struct stat info = {};
    if (lstat(path, &info) != 0) {
        if (parents) {
            makeDirs(path);
        } else if (mkdir(path, 0700) == 0) {
            chmod(path, 0700);
        }
        if (lstat(path, &info) != 0) {
            int error = errno;
            char reason[256];
            platErrorText(static_cast<uint32_t>(error), 1, reason, sizeof reason);
            char what[320];
            kvsFormat(what, sizeof what, "nicht anzulegen (%s)", reason);
            describe(problem, size, path, what);
            return error;
        }
    }
    char what[128];
    if (S_ISLNK(info.st_mode)) {
        kvsCopy(what, sizeof what, "ein symbolischer Link");
    } else if (!S_ISDIR(info.st_mode)) {
        kvsCopy(what, sizeof what, "kein Verzeichnis");
    } else if (info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        kvsFormat(what, sizeof what, "Besitzer %u, Modus %04o", static_cast<unsigned>(info.st_uid),
                  static_cast<unsigned>(info.st_mode & 07777));
    } else {
        return 0;
    }
    describe(problem, size, path, what);
    return EACCES;
}

// The directory is checked once and then only named: every hand-off looks
// up its event, so a stat per lookup would cost the request path. The cache
// belongs to the value of KVS_IPC_DIR it was made for; an operation that
// fails because the directory has gone asks for a new check (posixIpcRetry).
static std::mutex s_cacheLock;
static char s_cacheFor[POSIX_PATH_SIZE];  // KVS_IPC_DIR as checked, "" for the default
static char s_cacheDir[POSIX_PATH_SIZE];
static int s_cacheValid;

static int dirFor(const char *configured, char *out, size_t size) {
    if (configured[0] != '\0') return kvsCopy(out, size, configured) ? ENAMETOOLONG : 0;
    if (kvsFormat(out, size, "/tmp/kvstgbstr-%u", static_cast<unsigned>(geteuid()))) {
        return ENAMETOOLONG;
    }
    return 0;
}

static const char *configuredDir() {
    const char *configured = getenv("KVS_IPC_DIR");
    return configured != nullptr ? configured : "";
}

// Under s_cacheLock: checks the directory anew and caches it when it passes.
static int recheck(const char *configured, char *problem, size_t size) {
    s_cacheValid = 0;
    char dir[POSIX_PATH_SIZE];
    int error = dirFor(configured, dir, sizeof dir);
    if (error != 0) {
        describe(problem, size, configured, "Pfad zu lang");
        return error;
    }
    error = checkDir(dir, configured[0] != '\0', problem, size);
    if (error != 0) return error;
    kvsCopy(s_cacheFor, sizeof s_cacheFor, configured);
    kvsCopy(s_cacheDir, sizeof s_cacheDir, dir);
    s_cacheValid = 1;
    return 0;
}

int platIpcDirCheck(char *problem, size_t size) {
    if (size > 0) problem[0] = '\0';
    std::lock_guard<std::mutex> guard(s_cacheLock);
    int error = recheck(configuredDir(), problem, size);
    if (error != 0) posixSetError(error);
    return error;
}

static int ipcDir(char *out, size_t size) {
    std::lock_guard<std::mutex> guard(s_cacheLock);
    const char *configured = configuredDir();
    if (!s_cacheValid || strcmp(s_cacheFor, configured) != 0) {
        char problem[PLAT_IPC_PROBLEM_SIZE];
        int error = recheck(configured, problem, sizeof problem);
        if (error != 0) return fail(error);
    }
    return kvsCopy(out, size, s_cacheDir) ? fail(ENAMETOOLONG) : 0;
}

int posixIpcRetry(int error) {
    if (error != ENOENT) return 0;
    std::lock_guard<std::mutex> guard(s_cacheLock);
    if (!s_cacheValid) return 0;
    struct stat info = {};
    if (lstat(s_cacheDir, &info) == 0) return 0;  // there: the object itself is missing
    char problem[PLAT_IPC_PROBLEM_SIZE];
    return recheck(configuredDir(), problem, sizeof problem) == 0;
}

static int safeNameByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '#' || c == '.' || c == '-';
}

// Every byte outside a small safe set becomes %XX, so no name can reach
// outside the directory or collide with another after mapping.
static int appendEncoded(char *out, size_t size, const char *name) {
    size_t used = strlen(out);
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(name); *c; c++) {
        if (used + 4 > size) return fail(ENAMETOOLONG);
        if (safeNameByte(*c)) {
            out[used++] = static_cast<char>(*c);
        } else {
            kvsFormat(out + used, 4, "%%%02X", *c);
            used += 3;
        }
        out[used] = '\0';
    }
    return 0;
}

static const char *stripPipePrefix(const char *name) {
    size_t length = sizeof PIPE_PREFIX - 1;
    return strncasecmp(name, PIPE_PREFIX, length) == 0 ? name + length : name;
}

int posixIpcPath(const char *prefix, const char *name, char *out, size_t size) {
    if (name == nullptr) return fail(EINVAL);
    if (prefix[0] == 'p') name = stripPipePrefix(name);
    if (name[0] == '\0') return fail(EINVAL);
    if (ipcDir(out, size) != 0) return -1;
    size_t used = strlen(out);
    if (kvsFormat(out + used, size - used, "/%s.", prefix)) return fail(ENAMETOOLONG);
    return appendEncoded(out, size, name);
}

int posixIpcFile(const char *file, char *out, size_t size) {
    if (ipcDir(out, size) != 0) return -1;
    size_t used = strlen(out);
    return kvsFormat(out + used, size - used, "/%s", file) ? fail(ENAMETOOLONG) : 0;
}

int posixLockRetrying(int fd, int how) {
    int rc;
    do {
        rc = flock(fd, how);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

static int sameFile(int fd, const char *path) {
    struct stat opened = {}, named = {};
    if (fstat(fd, &opened) != 0 || stat(path, &named) != 0) return 0;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

int posixLockFile(const char *path, int how) {
    for (int again = 1;;) {
        int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && again && posixIpcRetry(errno)) {
            again = 0;  // the directory had gone and is there again
            continue;
        }
        if (fd < 0) return -1;
        if (posixLockRetrying(fd, how) != 0) {
            posixCloseFd(&fd);
            return -1;
        }
        // The holder before us may have removed the file after we opened it.
        if (sameFile(fd, path)) return fd;
        posixCloseFd(&fd);
    }
}

int posixLockHeld(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    int held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    posixCloseFd(&fd);
    return held;
}

void posixUnlinkIfSame(const char *path, int fd) {
    if (fd >= 0 && sameFile(fd, path)) unlink(path);
}
