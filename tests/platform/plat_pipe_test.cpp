// Named pipes: one instance per name, one client at a time, the states a
// non-blocking server reads, and servers that crash.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/pipe.h"
#include "tests/platform/child_process.h"
#include "tests/platform/ipc_fixture.h"

static const char NAME[] = "\\\\.\\pipe\\KVSTGBSTR";

class PipeTest : public IpcTest {};

static PlatHandle openClient(const char *name, int expected) {
    int result = -1;
    PlatHandle client = platPipeOpen(name, &result);
    EXPECT_EQ(expected, result);
    EXPECT_EQ(expected == PLAT_PIPE_OK, platHandleOpen(client) != 0);
    return client;
}

static std::string readServer(PlatHandle server, int expected) {
    char buf[32] = {};
    size_t got = 99;
    EXPECT_EQ(expected, platPipeRead(server, buf, sizeof buf - 1, &got));
    return std::string(buf, got);
}

static int writeText(PlatHandle pipe, const char *text) {
    size_t written = 0;
    int rc = platPipeWrite(pipe, text, strlen(text), &written);
    if (rc == PLAT_PIPE_OK) {
        EXPECT_EQ(strlen(text), written);
    }
    return rc;
}

TEST_F(PipeTest, SecondServerFailsAndNameIsFreeAfterClose) {
    PlatHandle server = platPipeCreate(NAME, 1);
    ASSERT_TRUE(platHandleOpen(server));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeCreate(NAME, 1));
    EXPECT_EQ(static_cast<uint32_t>(EADDRINUSE), platLastError());
    EXPECT_TRUE(platPipeNameTaken(platLastError()));
    EXPECT_EQ(0, platCloseHandle(server));
    EXPECT_NE(0, platCloseHandle(server));
    EXPECT_FALSE(ipcFileExists("p.KVSTGBSTR"));
    server = platPipeCreate(NAME, 1);
    EXPECT_TRUE(platHandleOpen(server));
    EXPECT_EQ(0, platCloseHandle(server));
}

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

TEST_F(PipeTest, KilledServerLeavesNothingThatBlocks) {
    ChildProcess child;
    ASSERT_TRUE(child.start({"pipe-server", NAME}));
    ASSERT_EQ("ready", child.readLine());
    PlatHandle client = openClient(NAME, PLAT_PIPE_OK);
    child.kill(SIGKILL);
    child.wait();
    EXPECT_EQ(PLAT_PIPE_BROKEN, writeText(client, "4711"));  // no SIGPIPE either
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_TRUE(ipcFileExists("p.KVSTGBSTR"));  // the stale socket file
    openClient(NAME, PLAT_PIPE_NOT_FOUND);
    PlatHandle server = platPipeCreate(NAME, 1);
    ASSERT_TRUE(platHandleOpen(server));
    client = openClient(NAME, PLAT_PIPE_OK);
    EXPECT_EQ(0, platCloseHandle(client));
    EXPECT_EQ(0, platCloseHandle(server));
}

TEST_F(PipeTest, NamesStayInsideTheDirectory) {
    PlatHandle server = platPipeCreate("\\\\.\\pipe\\../x/\xFC", 1);
    ASSERT_TRUE(platHandleOpen(server));
    EXPECT_TRUE(ipcFileExists("p...%2Fx%2F%FC"));
    EXPECT_EQ(0, platCloseHandle(server));

    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeCreate("\\\\.\\pipe\\", 1));
    EXPECT_EQ(static_cast<uint32_t>(EINVAL), platLastError());
    std::string tooLong = "\\\\.\\pipe\\" + std::string(120, 'A');
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeCreate(tooLong.c_str(), 1));
    EXPECT_EQ(static_cast<uint32_t>(ENAMETOOLONG), platLastError());
    int result = -1;
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeOpen(tooLong.c_str(), &result));
    EXPECT_EQ(PLAT_PIPE_ERROR, result);
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
