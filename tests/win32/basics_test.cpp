// Handles, error texts and the clock.
#include <cstring>

#include "platform/clock.h"
#include "platform/handle.h"
#include "tests/win32/runner.h"

const uint32_t FILE_NOT_FOUND = 2;  // a code every system has a text for

WIN_TEST(closingAHandleThatIsNotOpenFails) {
    CHECK(platCloseHandle(PLAT_NO_HANDLE) != 0);
    CHECK(platCloseHandle(PLAT_INVALID_HANDLE) != 0);
    CHECK(platLastError() != 0);
}

// Texts differ between systems and Wine: only their shape is checked.
WIN_TEST(errorTextIsOneLineOrKeepsTheSystemsLineEnd) {
    char oneLine[256], ownEnd[256];
    platErrorText(FILE_NOT_FOUND, 1, oneLine, sizeof oneLine);
    platErrorText(FILE_NOT_FOUND, 0, ownEnd, sizeof ownEnd);
    CHECK(strcmp(oneLine, "No Info") != 0);
    CHECK(strchr(oneLine, '\n') == nullptr && strchr(oneLine, '\r') == nullptr);
    size_t length = strlen(ownEnd);
    CHECK(length > 0 && ownEnd[length - 1] == '\n');
}

WIN_TEST(errorTextWithoutSystemTextIsNoInfoAndIsCutToTheField) {
    char text[64];
    platErrorText(0x2FFFFFFFu, 1, text, sizeof text);
    CHECK(strcmp(text, "No Info") == 0);
    char tiny[5];
    memset(tiny, 'x', sizeof tiny);
    platErrorText(FILE_NOT_FOUND, 1, tiny, sizeof tiny);
    CHECK_EQ(strlen(tiny), 4);
    platErrorText(FILE_NOT_FOUND, 1, nullptr, 0);  // no field: nothing written, no crash
}

WIN_TEST(localTimeIsPlausibleAndTheMonotonicClockAdvances) {
    PlatLocalTime now = {};
    platLocalTime(&now);
    CHECK(now.year >= 2024 && now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
    CHECK(now.hour >= 0 && now.hour <= 23 && now.minute <= 59 && now.second <= 59);
    int64_t before = platMonotonicMs();
    platSleepMs(20);
    CHECK(platMonotonicMs() - before >= 15);  // the tick may be coarse
}
