// Handles and error codes of the platform layer.
//
// The service sees operating-system objects (named pipes, events, processes)
// only as opaque PlatHandle values and failures only as numeric system error
// codes. No operating-system header or type appears in a platform header, so
// the same service code builds against every implementation.
#pragma once

#include <cstddef>
#include <cstdint>

typedef intptr_t PlatHandle;

const PlatHandle PLAT_NO_HANDLE = 0;        // "null": never opened
const PlatHandle PLAT_INVALID_HANDLE = -1;  // an open that failed

// 1 when h designates an open object (neither null nor invalid).
inline int platHandleOpen(PlatHandle h) {
    return h != PLAT_NO_HANDLE && h != PLAT_INVALID_HANDLE;
}

// Closes a pipe, event or process handle. Returns 0, or a system error code
// for a handle that is not open. Closing the last handle of a named object in
// the whole machine makes the name disappear.
int platCloseHandle(PlatHandle h);

// The last system error code of the calling thread, as left by the most recent
// failing platform call (errno on POSIX, GetLastError() on Windows).
uint32_t platLastError();

// The system's message text for code, written into out (always terminated,
// cut to size). oneLine != 0: no line break in the text. oneLine == 0: the text
// ends with the system's own line end. "No Info" when the system has no text.
void platErrorText(uint32_t code, int oneLine, char *out, size_t size);
