// Named pipes: one instance per name, one client at a time, the states a
// non-blocking server reads, and servers that crash.
// Cases only POSIX can have are in plat_pipe_posix_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/pipe.h"
#include "tests/platform/child_process.h"
#include "tests/platform/ipc_fixture.h"
#include "tests/platform/pipe_helpers.h"

class PipeTest : public IpcTest {};

TEST_F(PipeTest, ClientWithoutServerIsNotFound) {
    PlatHandle client = openClient(NAME, PLAT_PIPE_NOT_FOUND);
    EXPECT_EQ(PLAT_INVALID_HANDLE, client);
}

TEST_F(PipeTest, NonBlockingServerStatesAndCreateAnew) {
    PlatHandle server = platPipeCreate(NAME, 1);
    ASSERT_TRUE(platHandleOpen(server));
    EXPECT_EQ("", readServer(server, PLAT_PIPE_NO_CLIENT));
    EXPECT_EQ(PLAT_PIPE_NO_CLIENT, platPipeConnect(server));
    EXPECT_EQ(PLAT_PIPE_NO_CLIENT, writeText(server, "0"));

    // Bytes written before the server looks for its client are not lost.
    PlatHandle client = openClient(NAME, PLAT_PIPE_OK);
    ASSERT_EQ(PLAT_PIPE_OK, writeText(client, "*PID"));
    EXPECT_EQ("*PID", readServer(server, PLAT_PIPE_OK));
    EXPECT_EQ(PLAT_PIPE_OK, platPipeConnect(server));
    EXPECT_EQ("", readServer(server, PLAT_PIPE_NO_DATA));
    ASSERT_EQ(PLAT_PIPE_OK, writeText(server, "0"));
    ASSERT_EQ(1, platPipeWaitReadable(client, 10000));
    char answer[8] = {};
    size_t got = 0;
    EXPECT_EQ(PLAT_PIPE_OK, platPipeRead(client, answer, sizeof answer, &got));
    EXPECT_STREQ("0", answer);
    EXPECT_EQ(0, platPipeWaitReadable(client, 0));

    // A client that wrote and closed: its bytes first, then broken for good.
    ASSERT_EQ(PLAT_PIPE_OK, writeText(client, "*END"));
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_EQ("*END", readServer(server, PLAT_PIPE_OK));
    EXPECT_EQ("", readServer(server, PLAT_PIPE_BROKEN));
    EXPECT_EQ("", readServer(server, PLAT_PIPE_BROKEN));
    EXPECT_EQ(PLAT_PIPE_BROKEN, writeText(server, "0"));

    EXPECT_EQ(0, platCloseHandle(server));
    server = platPipeCreate(NAME, 1);
    ASSERT_TRUE(platHandleOpen(server));
    client = openClient(NAME, PLAT_PIPE_OK);
    ASSERT_EQ(PLAT_PIPE_OK, writeText(client, "again"));
    EXPECT_EQ("again", readServer(server, PLAT_PIPE_OK));
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_EQ(0, platCloseHandle(server));
}

TEST_F(PipeTest, SecondClientIsBusyUntilTheInstanceIsFree) {
    PlatHandle server = platPipeCreate(NAME, 1);
    ASSERT_TRUE(platHandleOpen(server));
    PlatHandle first = openClient(NAME, PLAT_PIPE_OK);
    openClient(NAME, PLAT_PIPE_BUSY);  // before the server took the first
    EXPECT_EQ("", readServer(server, PLAT_PIPE_NO_DATA));
    openClient(NAME, PLAT_PIPE_BUSY);  // while the first is attached
    EXPECT_EQ(0, platCloseHandle(first));
    openClient(NAME, PLAT_PIPE_BUSY);  // the server has not let go of the old client yet
    EXPECT_EQ("", readServer(server, PLAT_PIPE_BROKEN));
    EXPECT_EQ(0, platCloseHandle(server));
    server = platPipeCreate(NAME, 1);
    PlatHandle second = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(0, platCloseHandle(second));
    EXPECT_EQ(0, platCloseHandle(server));
}

TEST_F(PipeTest, DisconnectDropsTheClientAndTakesTheNext) {
    PlatHandle server = platPipeCreate(NAME, 1);
    ASSERT_TRUE(platHandleOpen(server));
    PlatHandle first = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(PLAT_PIPE_OK, platPipeConnect(server));
    EXPECT_EQ(PLAT_PIPE_OK, platPipeDisconnect(server));
    EXPECT_EQ(PLAT_PIPE_BROKEN, writeText(first, "4711"));
    // The dropped client still has its handle open: a new one may attach anyway.
    PlatHandle second = openClient(NAME, PLAT_PIPE_OK);
    ASSERT_EQ(PLAT_PIPE_OK, writeText(second, "12"));
    EXPECT_EQ("12", readServer(server, PLAT_PIPE_OK));
    EXPECT_EQ(0, platCloseHandle(first));
    EXPECT_EQ(0, platCloseHandle(second));
    EXPECT_EQ(0, platCloseHandle(server));
}

TEST_F(PipeTest, BlockingServerInAnotherProcess) {
    ChildProcess child;
    ASSERT_TRUE(child.start({"pipe-server", "\\\\.\\pipe\\ABC#ALLE2"}));
    ASSERT_EQ("ready", child.readLine());
    PlatHandle client = openClient("\\\\.\\pipe\\ABC#ALLE2", PLAT_PIPE_OK);
    ASSERT_EQ(PLAT_PIPE_OK, writeText(client, "4711"));
    EXPECT_EQ("4711", child.readLine());
    ASSERT_EQ(PLAT_PIPE_OK, writeText(client, "-5"));
    EXPECT_EQ("-5", child.readLine());
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_EQ(0, child.wait());  // the server read "broken" and ended
}

TEST_F(PipeTest, HandlesOfOtherKindsAreRefused) {
    size_t got = 0;
    char buf[4];
    EXPECT_EQ(PLAT_PIPE_ERROR, platPipeRead(PLAT_INVALID_HANDLE, buf, sizeof buf, &got));
    EXPECT_EQ(PLAT_PIPE_ERROR, platPipeWrite(12345, buf, sizeof buf, &got));
    EXPECT_EQ(PLAT_PIPE_ERROR, platPipeDisconnect(PLAT_NO_HANDLE));
    PlatHandle server = platPipeCreate(NAME, 1);
    PlatHandle client = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(PLAT_PIPE_ERROR, platPipeConnect(client));  // a client is no server
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_EQ(0, platCloseHandle(server));
}

TEST_F(PipeTest, OneInstanceOneClientAndTheNameGoesWithItsServer) {
    PlatHandle server = platPipeCreate(NAME, 1);
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeCreate(NAME, 1));  // a second server
    EXPECT_TRUE(platPipeNameTaken(platLastError()));
    PlatHandle client = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(PLAT_PIPE_OK, platPipeConnect(server));  // already attached
    openClient(NAME, PLAT_PIPE_BUSY);
    // Dropped by the server, the instance takes the next client at once.
    EXPECT_EQ(PLAT_PIPE_OK, platPipeDisconnect(server));
    EXPECT_EQ(0, platCloseHandle(client));
    PlatHandle next = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(0, platCloseHandle(next));
    EXPECT_EQ(0, platCloseHandle(server));
    openClient(NAME, PLAT_PIPE_NOT_FOUND);
}

TEST_F(PipeTest, TheClientSeesTheServerGo) {
    PlatHandle server = platPipeCreate(NAME, 1);
    PlatHandle client = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(0, platCloseHandle(server));
    EXPECT_EQ(1, platPipeWaitReadable(client, 1000));  // the end of the stream
    char buf[8];
    size_t got = 0;
    EXPECT_EQ(PLAT_PIPE_BROKEN, platPipeRead(client, buf, sizeof buf, &got));
    EXPECT_EQ(PLAT_PIPE_BROKEN, writeText(client, "1"));
    EXPECT_EQ(0, platCloseHandle(client));
}

TEST(PlatPipes, MissingNamesAndHandlesFailWithoutCrashing) {
    EXPECT_EQ(PLAT_PIPE_ERROR, platPipeWrite(PLAT_NO_HANDLE, "x", 1, nullptr));
    EXPECT_EQ(-1, platPipeWaitReadable(PLAT_INVALID_HANDLE, 0));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeCreate(nullptr, 1));
    int result = -1;
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeOpen(nullptr, &result));
    EXPECT_EQ(PLAT_PIPE_ERROR, result);
}
