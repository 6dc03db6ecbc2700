// Named events: the system's own. A name lives while any process holds a
// handle to it, which is exactly what the service relies on.
#include "platform/event.h"

#include "platform/win32/internal.h"

static int validName(const char *name) {
    if (name != nullptr && name[0] != '\0') return 1;
    SetLastError(ERROR_INVALID_NAME);  // an empty name would make an unnamed event
    return 0;
}

PlatHandle platEventCreate(const char *name, int manualReset, int initiallySignaled) {
    if (!validName(name)) return PLAT_INVALID_HANDLE;
    // No security attributes: the handle is not inherited.
    return winPlat(
        CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySignaled ? TRUE : FALSE, name));
}

PlatHandle platEventOpen(const char *name) {
    if (!validName(name)) return PLAT_INVALID_HANDLE;
    return winPlat(OpenEventA(EVENT_ALL_ACCESS, FALSE, name));
}

static int checked(PlatHandle event) {
    if (platHandleOpen(event)) return 1;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

// 0 when the call succeeded, otherwise the thread's last error (never 0).
static int result(BOOL ok) {
    if (ok) return 0;
    DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_INVALID_FUNCTION;
}

int platEventSet(PlatHandle event) {
    return result(checked(event) && SetEvent(winHandle(event)));
}

int platEventReset(PlatHandle event) {
    return result(checked(event) && ResetEvent(winHandle(event)));
}

int platEventPulse(PlatHandle event) {
    return result(checked(event) && PulseEvent(winHandle(event)));
}

PlatWaitResult platEventWait(PlatHandle event, uint32_t timeoutMs) {
    if (!checked(event)) return PLAT_WAIT_FAILED;
    int result = winWaitObject(winHandle(event), timeoutMs, 1);
    if (result == WIN_WAIT_READY) return PLAT_WAIT_SIGNALED;
    return result == WIN_WAIT_TIMEOUT ? PLAT_WAIT_TIMEOUT : PLAT_WAIT_FAILED;
}
