// The log's file through raw descriptors; O_APPEND puts every write at the
// end, also when another process appends meanwhile.
#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/internal.h"

// ELOOP from O_NOFOLLOW can also mean a loop in the directories above; only
// a link at the path itself counts. The look costs a call on failure only.
static int isSymlink(const char *path) {
    struct stat info = {};
    return lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

PlatLogFile platLogOpen(const char *path, int *isLink) {
    *isLink = 0;
    int fd;
    do {
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) return fd;
    int error = errno;
    if (error == ELOOP && isSymlink(path)) *isLink = 1;
    posixSetError(error);
    return PLAT_LOG_NONE;
}

int64_t platLogSeekEnd(PlatLogFile file) {
    off_t end = lseek(static_cast<int>(file), 0, SEEK_END);
    if (end < 0) posixKeepErrno();
    return end;
}

int platLogWrite(PlatLogFile file, const char *text, size_t length) {
    if (length > PLAT_LOG_TEXT_MAX) length = PLAT_LOG_TEXT_MAX;
    ssize_t written;
    do {
        written = write(static_cast<int>(file), text, length);
    } while (written < 0 && errno == EINTR);
    if (written >= 0) return 0;
    posixKeepErrno();
    return errno;
}

void platLogClose(PlatLogFile file) {
    int fd = static_cast<int>(file);
    posixCloseFd(&fd);
}
