// Named pipes, as POSIX builds them: the socket files in the IPC directory,
// the errno codes, and a killed server.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "platform/pipe.h"
#include "tests/platform/child_process.h"
#include "tests/platform/ipc_fixture.h"
#include "tests/platform/pipe_helpers.h"

namespace {
class PipePosixTest : public IpcTest {};
}  // namespace

TEST_F(PipePosixTest, SecondServerFailsAndNameIsFreeAfterClose) {
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

TEST_F(PipePosixTest, KilledServerLeavesNothingThatBlocks) {
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

TEST_F(PipePosixTest, NamesStayInsideTheDirectory) {
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
