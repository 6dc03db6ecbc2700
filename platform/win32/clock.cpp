// Local time, pauses and the monotonic clock.
#include "platform/clock.h"

#include "platform/win32/internal.h"

void platLocalTime(PlatLocalTime *out) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    out->year = now.wYear;
    out->month = now.wMonth;
    out->day = now.wDay;
    out->hour = now.wHour;
    out->minute = now.wMinute;
    out->second = now.wSecond > 59 ? 59 : now.wSecond;
}

// Not alertable: nothing shortens the pause, a stop request included.
void platSleepMs(uint32_t ms) {
    Sleep(ms);
}

// The performance counter, not the tick count, which may step in coarse units.
int64_t platMonotonicMs() {
    LARGE_INTEGER count, frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !QueryPerformanceCounter(&count))
        return static_cast<int64_t>(GetTickCount64());
    return count.QuadPart / frequency.QuadPart * 1000 +
           count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}
