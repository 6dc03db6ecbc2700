// Local time, pauses and the monotonic clock.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

#include "platform/posix/internal.h"

void platLocalTime(PlatLocalTime *out) {
    time_t now = time(nullptr);
    struct tm local = {};
    localtime_r(&now, &local);
    out->year = local.tm_year + 1900;
    out->month = local.tm_mon + 1;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    // A leap second shows as 60; the callers' fields stop at 59.
    out->second = local.tm_sec > 59 ? 59 : local.tm_sec;
}

void platSleepMs(uint32_t ms) {
    struct timespec left = {static_cast<time_t>(ms / 1000),
                            static_cast<long>(ms % 1000) * 1000000L};
    // A signal handler must not shorten the pause: sleep on for what is left.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int64_t platMonotonicMs() {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int posixMsLeft(int64_t deadline) {
    int64_t left = deadline - platMonotonicMs();
    if (left <= 0) return 0;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}
