#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/internal.h"

static int writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

int platWritePrivateFile(const char *path, const char *data, size_t size) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        posixKeepErrno();
        return errno;
    }
    int result = fchmod(fd, 0600) != 0 ? errno : writeAll(fd, data, size);
    if (close(fd) != 0 && result == 0) result = errno;
    if (result != 0) posixSetError(result);  // platLastError reports this failure
    return result;
}

static int kindOf(mode_t mode) {
    if (S_ISREG(mode)) return PLAT_FILE_REGULAR;
    if (S_ISDIR(mode)) return PLAT_FILE_DIRECTORY;
    if (S_ISFIFO(mode)) return PLAT_FILE_FIFO;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return PLAT_FILE_DEVICE;
    return PLAT_FILE_OTHER;
}

// Not blocking: opening a FIFO for reading would otherwise wait for a writer.
FILE *platOpenRegularFile(const char *path, int *kind) {
    *kind = PLAT_FILE_OPEN_FAILED;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        posixKeepErrno();
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        posixKeepErrno();
        posixCloseFd(&fd);
        return nullptr;
    }
    *kind = kindOf(status.st_mode);
    FILE *file = nullptr;
    // A regular file never makes a read wait; the stream gets a plain descriptor.
    int flags = fcntl(fd, F_GETFL);
    if (*kind == PLAT_FILE_REGULAR && flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        file = fdopen(fd, "r");
    if (file == nullptr) {
        if (*kind == PLAT_FILE_REGULAR) {
            posixKeepErrno();
            *kind = PLAT_FILE_OPEN_FAILED;
        }
        posixCloseFd(&fd);
    }
    return file;
}
