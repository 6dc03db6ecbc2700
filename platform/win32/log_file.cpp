// The log's file through a file handle opened for appending only, so every
// write lands at the end. Line ends are translated here, as text mode would,
// so that the end position counts the bytes on disk.
#include "platform/log_file.h"

#include "platform/win32/internal.h"

static HANDLE fileHandle(PlatLogFile file) {
    return reinterpret_cast<HANDLE>(file);
}

// Opened with the reparse point itself, a link is seen instead of followed.
static int isReparsePoint(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return 0;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

PlatLogFile platLogOpen(const char *path, int *isLink) {
    *isLink = 0;
    HANDLE file =
        CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return PLAT_LOG_NONE;
    if (isReparsePoint(file)) {
        CloseHandle(file);
        *isLink = 1;
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return PLAT_LOG_NONE;
    }
    return reinterpret_cast<PlatLogFile>(file);
}

int64_t platLogSeekEnd(PlatLogFile file) {
    LARGE_INTEGER zero = {}, end = {};
    if (!SetFilePointerEx(fileHandle(file), zero, &end, FILE_END)) return -1;
    return end.QuadPart;
}

int platLogWrite(PlatLogFile file, const char *text, size_t length) {
    char disk[2 * PLAT_LOG_TEXT_MAX];
    size_t used = 0;
    for (size_t i = 0; i < length && i < PLAT_LOG_TEXT_MAX; i++) {
        if (text[i] == '\n') disk[used++] = '\r';
        disk[used++] = text[i];
    }
    DWORD written = 0;
    if (!WriteFile(fileHandle(file), disk, static_cast<DWORD>(used), &written, nullptr)) {
        return static_cast<int>(GetLastError());
    }
    return 0;
}

void platLogClose(PlatLogFile file) {
    CloseHandle(fileHandle(file));
}
