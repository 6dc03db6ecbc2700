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
