// The last error of a platform call, the system's text for an error code,
// and closing handles.
#include "common/text.h"
#include "platform/handle.h"
#include "platform/win32/internal.h"

uint32_t platLastError() {
    return static_cast<uint32_t>(GetLastError());
}

void platErrorText(uint32_t code, int oneLine, char *out, size_t size) {
    if (out == nullptr || size == 0) return;
    WinKeepError keep;
    // The width mask makes the system drop the line breaks of its own text.
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                  FORMAT_MESSAGE_IGNORE_INSERTS | (oneLine ? FORMAT_MESSAGE_MAX_WIDTH_MASK : 0);
    char *text = nullptr;
    DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char *>(&text), 0, nullptr);
    if (length == 0 || text == nullptr)
        kvsCopy(out, size, "No Info");
    else
        kvsCopyN(out, size, text, length);
    if (text != nullptr) LocalFree(text);
}

int platCloseHandle(PlatHandle h) {
    if (!platHandleOpen(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR_INVALID_HANDLE;
    }
    if (!CloseHandle(winHandle(h))) return static_cast<int>(GetLastError());
    return 0;
}
