// A stop signal cuts the socket waits short, the one running and every later
// one, unless a wait is to run its time; other signals are ignored.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/pipe.h"
#include "platform/signals.h"
#include "platform/socket.h"
#include "tests/support/tempdir.h"

TEST(PlatSignals, StopSignalEndsSocketWaitsWithInterrupted) {
    platStopSignalsInstall();
    EXPECT_EQ(0, platStopRequested());
    PlatSocket listener = platSockTcp();
    ASSERT_EQ(0, platSockBindAny(listener, 0));
    ASSERT_EQ(0, platSockListen(listener, 5));

    // Whether SIGTERM lands before or during the wait, the wait must fail.
    std::thread stopper([] {
        platSleepMs(100);
        kill(getpid(), SIGTERM);
    });
    EXPECT_EQ(-1, platSockWait(listener, 0, 120, 1));
    EXPECT_EQ(PLAT_WSAEINTR, platSockError());
    stopper.join();
    EXPECT_EQ(1, platStopRequested());

    // The stop stays: a later wait ends at once too; no other signal kills.
    for (int sig : {SIGINT, SIGPIPE, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) raise(sig);
    EXPECT_EQ(-1, platSockWait(listener, 0, 120, 1));
    EXPECT_EQ(PLAT_WSAEINTR, platSockError());
    // A wait that a stop must not end runs its time.
    EXPECT_EQ(0, platSockWait(listener, 0, 1, 0));
    EXPECT_EQ(0, platSockClose(listener));

    // Blocking pipe waits, as a worker runs them, end the same way.
    TempDir dir;
    setenv("KVS_IPC_DIR", dir.path().c_str(), 1);
    PlatHandle server = platPipeCreate("\\\\.\\pipe\\worker", 0);
    ASSERT_TRUE(platHandleOpen(server));
    EXPECT_EQ(PLAT_PIPE_INTERRUPTED, platPipeConnect(server));
    int result = -1;
    PlatHandle client = platPipeOpen("\\\\.\\pipe\\worker", &result);
    ASSERT_EQ(PLAT_PIPE_OK, result);
    char buf[8];
    size_t got = 0;
    EXPECT_EQ(PLAT_PIPE_INTERRUPTED, platPipeRead(server, buf, sizeof buf, &got));
    EXPECT_EQ(PLAT_PIPE_INTERRUPTED, platPipeRead(client, buf, sizeof buf, &got));
    EXPECT_EQ(-1, platPipeWaitReadable(client, 1000));
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_EQ(0, platCloseHandle(server));
}
