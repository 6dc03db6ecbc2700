// The access list that keeps the service's secrets and pipes to the user it
// runs as: one entry granting that user everything, nothing inherited from
// the parent object.
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

DWORD winOwnerOnlyInit(WinOwnerOnly *out) {
    out->acl = nullptr;
    TOKEN_USER *user = currentUser();
    if (user == nullptr) return GetLastError();
    DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user->User.Sid);
    out->acl = new (std::nothrow) char[aclSize];
    ACL *acl = reinterpret_cast<ACL *>(out->acl);
    DWORD error = 0;
    if (out->acl == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
               !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user->User.Sid) ||
               !InitializeSecurityDescriptor(&out->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
               !SetSecurityDescriptorDacl(&out->descriptor, TRUE, acl, FALSE) ||
               !SetSecurityDescriptorControl(&out->descriptor, SE_DACL_PROTECTED,
                                             SE_DACL_PROTECTED)) {
        error = GetLastError();
    }
    delete[] reinterpret_cast<char *>(user);
    if (error != 0) winOwnerOnlyFree(out);
    return error;
}

void winOwnerOnlyFree(WinOwnerOnly *security) {
    delete[] security->acl;
    security->acl = nullptr;
}
