// Files that hold secrets: the content is written, then the file's access
// list is replaced by one entry that grants the current user everything, with
// inheritance from the folder cut off.
#include "platform/file.h"

#include <new>

#include "platform/win32/internal.h"

// The security identifier of the user the process runs as, in a buffer the
// caller frees with delete[]; nullptr with the last error set.
static TOKEN_USER *currentUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    char *buffer = size > 0 ? new (std::nothrow) char[size] : nullptr;
    if (buffer == nullptr || !GetTokenInformation(token, TokenUser, buffer, size, &size)) {
        WinKeepError keep;
        delete[] buffer;
        CloseHandle(token);
        return nullptr;
    }
    CloseHandle(token);
    return reinterpret_cast<TOKEN_USER *>(buffer);
}

static DWORD restrictToOwner(const char *path) {
    TOKEN_USER *user = currentUser();
    if (user == nullptr) return GetLastError();
    DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user->User.Sid);
    char *aclBuffer = new (std::nothrow) char[aclSize];
    ACL *acl = reinterpret_cast<ACL *>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    DWORD error = 0;
    if (aclBuffer == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
               !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user->User.Sid) ||
               !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
               !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
               !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
               !SetFileSecurityA(path, DACL_SECURITY_INFORMATION, &descriptor)) {
        error = GetLastError();
    }
    delete[] aclBuffer;
    delete[] reinterpret_cast<char *>(user);
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
