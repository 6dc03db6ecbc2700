// Named events: reset modes, pulse, opening by name.
#include "platform/event.h"

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "tests/win32/runner.h"

WIN_TEST(autoResetReleasesOneWaitManualResetStaysSet) {
    char name[64];
    winTestUniqueName("kvs-auto", name, sizeof name);
    PlatHandle autoEvent = platEventCreate(name, 0, 0);
    CHECK(platHandleOpen(autoEvent));
    CHECK_EQ(platEventWait(autoEvent, 0), PLAT_WAIT_TIMEOUT);
    CHECK(platEventSet(autoEvent));
    CHECK_EQ(platEventWait(autoEvent, 0), PLAT_WAIT_SIGNALED);
    CHECK_EQ(platEventWait(autoEvent, 0), PLAT_WAIT_TIMEOUT);
    platCloseHandle(autoEvent);

    winTestUniqueName("kvs-manual", name, sizeof name);
    PlatHandle manual = platEventCreate(name, 1, 1);
    CHECK_EQ(platEventWait(manual, 0), PLAT_WAIT_SIGNALED);
    CHECK_EQ(platEventWait(manual, 0), PLAT_WAIT_SIGNALED);
    CHECK(platEventReset(manual));
    CHECK_EQ(platEventWait(manual, 10), PLAT_WAIT_TIMEOUT);
    platCloseHandle(manual);
}

WIN_TEST(creatingAnExistingNameOpensItAndItsModeStays) {
    char name[64];
    winTestUniqueName("kvs-again", name, sizeof name);
    PlatHandle first = platEventCreate(name, 0, 0);
    PlatHandle second = platEventCreate(name, 1, 0);  // asks for manual: stays auto
    PlatHandle opened = platEventOpen(name);
    CHECK(platHandleOpen(second) && platHandleOpen(opened));
    CHECK(platEventSet(opened));
    CHECK_EQ(platEventWait(second, 0), PLAT_WAIT_SIGNALED);
    CHECK_EQ(platEventWait(first, 0), PLAT_WAIT_TIMEOUT);
    platCloseHandle(first);
    platCloseHandle(second);
    platCloseHandle(opened);
    // The last handle is gone, and the name with it.
    CHECK_EQ(platEventOpen(name), PLAT_INVALID_HANDLE);
    CHECK_EQ(platEventOpen(""), PLAT_INVALID_HANDLE);
    CHECK_EQ(platEventCreate("", 1, 0), PLAT_INVALID_HANDLE);
}

WIN_TEST(pulseReleasesTheWaiterAndLeavesTheEventReset) {
    char name[64];
    winTestUniqueName("kvs-pulse", name, sizeof name);
    PlatHandle event = platEventCreate(name, 1, 0);
    CHECK(platEventPulse(event));  // nobody waits: nothing stays signalled
    CHECK_EQ(platEventWait(event, 0), PLAT_WAIT_TIMEOUT);

    std::atomic<int> waited(-1);
    std::thread waiter([&] { waited = platEventWait(event, 10000); });
    // The waiter must be inside its wait before the pulse; pulse until it is.
    for (int i = 0; i < 500 && waited == -1; i++) {
        platSleepMs(10);
        platEventPulse(event);
    }
    waiter.join();
    CHECK_EQ(waited.load(), PLAT_WAIT_SIGNALED);
    CHECK_EQ(platEventWait(event, 0), PLAT_WAIT_TIMEOUT);
    platCloseHandle(event);
}

WIN_TEST(callsOnAHandleThatIsNotOpenFail) {
    CHECK(!platEventSet(PLAT_INVALID_HANDLE));
    CHECK(!platEventPulse(PLAT_NO_HANDLE));
    CHECK_EQ(platEventWait(PLAT_INVALID_HANDLE, 0), PLAT_WAIT_FAILED);
}
