// Files that hold secrets: the content is written, then the file's access
// list is replaced by one entry that grants the current user everything, with
// inheritance from the folder cut off.
#include "platform/file.h"

#include "platform/win32/internal.h"

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
