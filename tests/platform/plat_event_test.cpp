// Named events: set, reset and pulse on both reset modes, waits across
// handles and processes, and the lifetime of a name.
// Cases only POSIX can have are in plat_event_posix_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"
#include "tests/platform/child_process.h"
#include "tests/platform/ipc_fixture.h"

class EventTest : public IpcTest {};

// Pulses until count waiters have been released. A pulse only releases the
// waiters that wait at that moment, and a thread may not be waiting yet.
static void pulseUntilReleased(PlatHandle event, const std::atomic<int> &released, int count) {
    platSleepMs(50);  // most often the waiters are in place by then
    for (int round = 0; round < 50 && released.load() < count; round++) {
        ASSERT_EQ(0, platEventPulse(event));
        for (int i = 0; i < 400 && released.load() < count; i++) platSleepMs(5);
    }
    ASSERT_EQ(count, released.load());
}
TEST_F(EventTest, ManualSetStaysSignalledUntilReset) {
    PlatHandle event = platEventCreate("DEV_STOP_EVENT", 1, 0);
    ASSERT_TRUE(platHandleOpen(event));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 30));
    EXPECT_EQ(0, platEventSet(event));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(event, 0));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(event, PLAT_WAIT_INFINITE));
    EXPECT_EQ(0, platEventReset(event));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0));
    EXPECT_EQ(0, platCloseHandle(event));
}

TEST_F(EventTest, AutoSetReleasesOneWaitAndInitialState) {
    PlatHandle event = platEventCreate("ABC#ALLE2", 0, 1);
    ASSERT_TRUE(platHandleOpen(event));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(event, 0));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0));
    EXPECT_EQ(0, platEventSet(event));
    EXPECT_EQ(0, platEventSet(event));  // a second set does not count twice
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(event, PLAT_WAIT_INFINITE));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0));
    EXPECT_EQ(0, platCloseHandle(event));
}

TEST_F(EventTest, PulseLeavesTheEventReset) {
    for (int manual = 0; manual <= 1; manual++) {
        PlatHandle event = platEventCreate("pulse", manual, 1);
        EXPECT_EQ(0, platEventPulse(event));  // nobody waits: it only resets
        EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0)) << manual;
        EXPECT_EQ(0, platCloseHandle(event));
    }
}

TEST_F(EventTest, CreatingAnExistingNameOpensItAndPulseReachesTheOtherHandle) {
    PlatHandle first = platEventCreate("ABC#ALLE2", 0, 0);
    PlatHandle second = platEventCreate("ABC#ALLE2", 1, 1);  // mode and state are the first's
    ASSERT_TRUE(platHandleOpen(first) && platHandleOpen(second));
    EXPECT_NE(first, second);
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(second, 0));
    std::atomic<int> released{0};
    std::thread waiter([&] {
        if (platEventWait(second, PLAT_WAIT_INFINITE) == PLAT_WAIT_SIGNALED) released++;
    });
    pulseUntilReleased(first, released, 1);
    waiter.join();
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(second, 0));
    EXPECT_EQ(0, platCloseHandle(first));
    EXPECT_EQ(0, platCloseHandle(second));
}

TEST_F(EventTest, AutoPulseReleasesOneWaiterManualPulseAll) {
    PlatHandle event = platEventCreate("auto", 0, 0);
    std::atomic<int> released{0};
    auto wait = [&] {
        if (platEventWait(event, PLAT_WAIT_INFINITE) == PLAT_WAIT_SIGNALED) released++;
    };
    std::thread a(wait), b(wait);
    pulseUntilReleased(event, released, 1);
    platSleepMs(200);  // room for a wrong second release to show
    EXPECT_EQ(1, released.load());
    EXPECT_EQ(0, platEventSet(event));
    a.join();
    b.join();
    EXPECT_EQ(2, released.load());
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0));
    EXPECT_EQ(0, platCloseHandle(event));

    event = platEventCreate("manual", 1, 0);
    released = 0;
    std::thread c(wait), d(wait);
    pulseUntilReleased(event, released, 2);
    c.join();
    d.join();
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0));
    EXPECT_EQ(0, platCloseHandle(event));
}

TEST_F(EventTest, SetInOneProcessReleasesAWaiterInAnother) {
    PlatHandle event = platEventCreate("ABC#ALLE2", 0, 0);
    ChildProcess child;
    ASSERT_TRUE(child.start({"wait-event", "ABC#ALLE2"}));
    ASSERT_EQ("ready", child.readLine());
    EXPECT_EQ(0, platEventSet(event));
    EXPECT_EQ(0, child.wait());
    EXPECT_EQ(0, platCloseHandle(event));
}

TEST_F(EventTest, EventOfAKilledProcessCannotBeOpened) {
    ChildProcess child;
    ASSERT_TRUE(child.start({"hold-event", "ABC#ALLE2"}));
    ASSERT_EQ("ready", child.readLine());
    PlatHandle opened = platEventOpen("ABC#ALLE2");
    ASSERT_TRUE(platHandleOpen(opened));
    EXPECT_EQ(0, platCloseHandle(opened));
    child.kill(KILL_SIGNAL);
    child.wait();
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventOpen("ABC#ALLE2"));
    EXPECT_FALSE(ipcFileExists("e.ABC#ALLE2"));  // POSIX: its file is gone too
    // Creating the name anew gives a fresh event with the new settings.
    PlatHandle created = platEventCreate("ABC#ALLE2", 1, 1);
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(created, 0));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(created, 0));
    EXPECT_EQ(0, platCloseHandle(created));
}

TEST_F(EventTest, CreatingAnExistingNameKeepsItsModeAndTheNameGoesWithTheLastHandle) {
    PlatHandle first = platEventCreate("kvs-again", 0, 0);
    PlatHandle second = platEventCreate("kvs-again", 1, 0);  // asks for manual: stays auto
    PlatHandle opened = platEventOpen("kvs-again");
    ASSERT_TRUE(platHandleOpen(second) && platHandleOpen(opened));
    EXPECT_EQ(0, platEventSet(opened));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(second, 0));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(first, 0));
    EXPECT_EQ(0, platCloseHandle(first));
    EXPECT_EQ(0, platCloseHandle(second));
    EXPECT_EQ(0, platCloseHandle(opened));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventOpen("kvs-again"));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventOpen(""));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventCreate("", 1, 0));
}

TEST(PlatEvents, CallsOnAHandleThatIsNotOpenFail) {
    EXPECT_NE(0, platEventSet(PLAT_INVALID_HANDLE));
    EXPECT_NE(0, platEventPulse(PLAT_NO_HANDLE));
    EXPECT_NE(0, platEventReset(PLAT_NO_HANDLE));
    EXPECT_EQ(PLAT_WAIT_FAILED, platEventWait(PLAT_INVALID_HANDLE, 0));
}
