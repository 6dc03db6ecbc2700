// Local time and pauses.
#pragma once

#include <cstdint>

struct PlatLocalTime {
    int year;    // e.g. 2026
    int month;   // 1..12
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
    int second;  // 0..59
};

// The current local time of the machine.
void platLocalTime(PlatLocalTime *out);

// Sleeps for ms milliseconds (a stop signal does not shorten the pause).
void platSleepMs(uint32_t ms);

// Milliseconds on a monotonic clock, for measuring spans only.
int64_t platMonotonicMs();
