// The directory that holds this user's named pipes and events, the mapping of
// object names onto file names in it, and the lock files that guard them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "platform/posix/internal.h"

static const char PIPE_PREFIX[] = "\\\\.\\pipe\\";

static int fail(int error) {
    posixSetError(error);
    return -1;
}

static int isDirectory(const char *path) {
    struct stat info = {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p with mode 0700 for every directory it makes. Failures on the way
// (existing parts, parts we may not write) show in the final check. Every
// event and pipe name is looked up here, once or twice per hand-off: a
// directory that is there costs one stat.
static int makeDirs(const char *path) {
    if (isDirectory(path)) return 0;
    char partial[POSIX_PATH_SIZE];
    if (kvsCopy(partial, sizeof partial, path)) return fail(ENAMETOOLONG);
    for (char *c = partial + 1; *c != '\0'; c++) {
        if (*c != '/') continue;
        *c = '\0';
        mkdir(partial, 0700);
        *c = '/';
    }
    mkdir(partial, 0700);
    struct stat info = {};
    if (stat(path, &info) != 0) return fail(errno);
    return S_ISDIR(info.st_mode) ? 0 : fail(ENOTDIR);
}

// /tmp is shared: another user could have put a directory or a symlink of
// theirs where ours belongs, and then could read or plant our objects.
static int checkDefaultDir(const char *path) {
    struct stat info = {};
    if (lstat(path, &info) != 0) {
        if (mkdir(path, 0700) != 0 && errno != EEXIST) return fail(errno);
        if (lstat(path, &info) != 0) return fail(errno);
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 022) != 0) {
        return fail(EACCES);
    }
    return 0;
}

static int ipcDir(char *out, size_t size) {
    const char *configured = getenv("KVS_IPC_DIR");
    if (configured != nullptr && configured[0] != '\0') {
        if (kvsCopy(out, size, configured)) return fail(ENAMETOOLONG);
        return makeDirs(out);
    }
    if (kvsFormat(out, size, "/tmp/kvstgbstr-%u", static_cast<unsigned>(geteuid()))) {
        return fail(ENAMETOOLONG);
    }
    return checkDefaultDir(out);
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
    for (;;) {
        int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
