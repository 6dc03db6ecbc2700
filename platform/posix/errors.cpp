// The last error of a platform call and the system's text for an error code.
#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "platform/handle.h"
#include "platform/posix/internal.h"

// Kept apart from errno, which any later library call may overwrite before
// the caller gets round to asking.
static thread_local int lastError = 0;

void posixSetError(int code) {
    lastError = code;
    errno = code;
}

void posixKeepErrno() {
    lastError = errno;
}

uint32_t platLastError() {
    return static_cast<uint32_t>(lastError);
}

// glibc names codes it does not know "Unknown error N": that is no text.
static int hasSystemText(const char *text) {
    return text != nullptr && text[0] != '\0' && strncmp(text, "Unknown error", 13) != 0;
}

void platErrorText(uint32_t code, int oneLine, char *out, size_t size) {
    if (out == nullptr || size == 0) return;
    char buffer[256];
    const char *text =
        code <= 0x7FFFFFFFu ? strerror_r(static_cast<int>(code), buffer, sizeof buffer) : nullptr;
    if (!hasSystemText(text)) {
        kvsCopy(out, size, "No Info");
        return;
    }
    kvsFormat(out, size, "%s%s", text, oneLine ? "" : "\n");
}
