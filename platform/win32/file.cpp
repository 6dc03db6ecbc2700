// Files that hold secrets: the content is written, then the file's access
// list is replaced by one entry that grants the current user everything, with
// inheritance from the folder cut off.
#include "platform/file.h"

#include "platform/win32/internal.h"
// clang-format off
#include <fcntl.h>
#include <io.h>
// clang-format on

static DWORD restrictToOwner(const char *path) {
    WinOwnerOnly security;
    DWORD error = winOwnerOnlyInit(&security);
    if (error != 0) return error;
    if (!SetFileSecurityA(path, DACL_SECURITY_INFORMATION, &security.descriptor))
        error = GetLastError();
    winOwnerOnlyFree(&security);
    return error;
}

static DWORD writeAll(HANDLE file, const char *data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr)) return GetLastError();
        data += written;
        size -= written;
    }
    return 0;
}

int platWritePrivateFile(const char *path, const char *data, size_t size) {
    if (path == nullptr || (data == nullptr && size > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    // Narrowed before the secret goes in; a new file is made first, empty.
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    DWORD error = restrictToOwner(path);
    if (error == 0 && !SetEndOfFile(file)) error = GetLastError();  // at offset 0: truncates
    if (error == 0) error = writeAll(file, data, size);
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    if (error != 0) SetLastError(error);
    return static_cast<int>(error);
}

// The kind of an open handle; directories are opened with backup semantics
// so that they can be told apart instead of failing as "access denied".
static int kindOf(HANDLE file) {
    DWORD type = GetFileType(file);
    if (type == FILE_TYPE_PIPE) return PLAT_FILE_FIFO;
    if (type == FILE_TYPE_CHAR) return PLAT_FILE_DEVICE;
    if (type != FILE_TYPE_DISK) return PLAT_FILE_OTHER;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return PLAT_FILE_OTHER;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PLAT_FILE_DIRECTORY
                                                              : PLAT_FILE_REGULAR;
}

FILE *platOpenRegularFile(const char *path, int *kind) {
    *kind = PLAT_FILE_OPEN_FAILED;
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    *kind = kindOf(file);
    if (*kind != PLAT_FILE_REGULAR) {
        CloseHandle(file);
        return nullptr;
    }
    // The descriptor and then the stream take the handle over.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_TEXT);
    if (fd < 0) {
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error != 0 ? error : ERROR_TOO_MANY_OPEN_FILES);
        *kind = PLAT_FILE_OPEN_FAILED;
        return nullptr;
    }
    FILE *stream = _fdopen(fd, "r");
    if (stream == nullptr) {
        _close(fd);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        *kind = PLAT_FILE_OPEN_FAILED;
    }
    return stream;
}
