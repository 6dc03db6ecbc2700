// Private to the Windows implementation: the pieces its files share.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

#include "platform/handle.h"

// PlatHandle carries the HANDLE value itself: INVALID_HANDLE_VALUE is
// PLAT_INVALID_HANDLE and NULL is PLAT_NO_HANDLE.
inline HANDLE winHandle(PlatHandle h) {
    return reinterpret_cast<HANDLE>(h);
}
inline PlatHandle winPlat(HANDLE h) {
    return h == nullptr ? PLAT_INVALID_HANDLE : reinterpret_cast<PlatHandle>(h);
}

// Marks the stop request: sets the flag and the event every cut-short wait
// watches. Safe from any thread (console handler, parent watcher).
void winRaiseStop();

// The manual-reset event set by a stop request; nullptr before
// platStopSignalsInstall.
HANDLE winStopEvent();

enum WinWaitResult {
    WIN_WAIT_READY = 1,
    WIN_WAIT_TIMEOUT = 0,
    WIN_WAIT_FAILED = -1,   // GetLastError() tells why
    WIN_WAIT_STOPPED = -2,  // a stop request arrived, now or earlier
};

// Waits up to timeoutMs (INFINITE: no limit) for object. A stop request ends
// the wait unless ignoreStop != 0.
int winWaitObject(HANDLE object, DWORD timeoutMs, int ignoreStop);

// A security descriptor whose access list grants the current user everything
// and nobody else (nothing inherited). winOwnerOnlyInit returns 0 or the
// system error code; winOwnerOnlyFree releases it (also after a failure).
struct WinOwnerOnly {
    SECURITY_DESCRIPTOR descriptor;
    char *acl;
};
DWORD winOwnerOnlyInit(WinOwnerOnly *out);
void winOwnerOnlyFree(WinOwnerOnly *security);

// Keeps the thread's last error across clean-up calls that may change it.
class WinKeepError {
   public:
    WinKeepError() : saved_(GetLastError()) {}
    ~WinKeepError() { SetLastError(saved_); }
    WinKeepError(const WinKeepError &) = delete;
    WinKeepError &operator=(const WinKeepError &) = delete;

   private:
    DWORD saved_;
};
