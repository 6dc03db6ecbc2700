// Processes, as POSIX runs them: the command line split by the Windows
// rules, what a child inherits, its module name, and that an ended child is
// reaped without disturbing the program's own children.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/posix/cmdline.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "tests/platform/child_process.h"
#include "tests/platform/ipc_fixture.h"

class ProcessTest : public IpcTest {
   protected:
    void TearDown() override {
        for (uint32_t pid : started_) {
            kill(static_cast<pid_t>(pid), SIGKILL);
            waitUntilGone(pid);
        }
        IpcTest::TearDown();
    }
    // Starts kvs_plat_child with the rest of a command line; its id.
    uint32_t startChild(const std::string &rest) {
        std::string line = "\"" + testProgram("kvs_plat_child") + "\" " + rest;
        uint32_t pid = 0;
        EXPECT_EQ(0u, platProcessStart(line.c_str(), &pid));
        if (pid != 0) started_.push_back(pid);
        return pid;
    }
    static bool waitUntilGone(uint32_t pid) {
        for (int i = 0; i < 2000 && platProcessAlive(pid); i++) platSleepMs(5);
        return !platProcessAlive(pid);
    }

   private:
    std::vector<uint32_t> started_;
};

static std::vector<std::string> split(const char *line) {
    char buffer[256];
    char *words[16];
    int count = posixSplitCommandLine(line, buffer, strlen(line) + 1, words, 16);
    if (count < 0) return {"<overflow>"};
    return std::vector<std::string>(words, words + count);
}
TEST(CommandLine, SplitsByTheWindowsRules) {
    using V = std::vector<std::string>;
    EXPECT_EQ(V({"DEV_MYSQL.EXE", "../files/A107.ini", "USER:ABC#ALLE2"}),
              split("DEV_MYSQL.EXE ../files/A107.ini  \tUSER:ABC#ALLE2 "));
    EXPECT_EQ(V({}), split(" \t "));
    EXPECT_EQ(V({"a b", "c"}), split("\"a b\" c"));
    EXPECT_EQ(V({"ab c", ""}), split("a\"b c\" \"\""));
    EXPECT_EQ(V({"a\\\\b", "a\\"}), split("a\\\\b a\\"));  // no quote: literal
    EXPECT_EQ(V({"a\\b c"}), split("a\\\\\"b c\""));       // 2n + quote: n, toggles
    EXPECT_EQ(V({"a\"b", "c"}), split("a\\\"b c"));        // 2n+1 + quote: literal quote
    EXPECT_EQ(V({"\\\"x y"}), split("\\\\\\\"x\" y\""));   // 3 backslashes, then a group
    EXPECT_EQ(V({"open end"}), split("\"open end"));
    EXPECT_EQ(V({"a\"b c", "d"}), split("\"a\"\"b c\" d"));  // "" inside a group: one quote
    EXPECT_EQ(V({"ab", "c"}), split("a\"\"b c"));            // "" outside: an empty group
    char buffer[4];
    char *words[1];
    EXPECT_EQ(-1, posixSplitCommandLine("a b", buffer, sizeof buffer, words, 1));
    EXPECT_EQ(-1, posixSplitCommandLine("abcdef", buffer, sizeof buffer, words, 1));
}

TEST_F(ProcessTest, MissingProgramGivesNotFoundWithItsText) {
    uint32_t pid = 77;
    EXPECT_EQ(static_cast<uint32_t>(ENOENT), platProcessStart("DEV_NOSUCH.EXE x y", &pid));
    EXPECT_EQ(static_cast<uint32_t>(ENOENT), platLastError());
    EXPECT_EQ(77u, pid);
    char text[128];
    platErrorText(platLastError(), 1, text, sizeof text);
    EXPECT_STREQ("No such file or directory", text);
    EXPECT_EQ(static_cast<uint32_t>(EINVAL), platProcessStart("  ", &pid));
    uint32_t found = 0;
    EXPECT_EQ(0u, platProcessStart("true", &found));  // found on PATH
    EXPECT_NE(0u, found);
}

TEST_F(ProcessTest, ModuleNameOfAStartedChild) {
    uint32_t pid = startChild("sleep 60000");
    ASSERT_NE(0u, pid);
    EXPECT_EQ(1, platProcessAlive(pid));
    PlatHandle process = platProcessOpen(pid);
    ASSERT_TRUE(platHandleOpen(process));
    char name[260] = "unchanged";
    EXPECT_EQ(0, platProcessModuleName(process, name, sizeof name));
    EXPECT_STREQ("kvs_plat_child", name);
    char small[4];
    EXPECT_EQ(0, platProcessModuleName(process, small, sizeof small));
    EXPECT_STREQ("kvs", small);
    EXPECT_EQ(0, platCloseHandle(process));
    EXPECT_NE(0, platProcessModuleName(process, name, sizeof name));

    PlatHandle self = platProcessOpen(platProcessSelf());
    EXPECT_EQ(0, platProcessModuleName(self, name, sizeof name));
    EXPECT_STREQ("plat_process_test", name);
    EXPECT_EQ(0, platCloseHandle(self));
}

TEST_F(ProcessTest, EndedChildIsGoneNotAZombie) {
    uint32_t pid = startChild("exit 3");
    ASSERT_NE(0u, pid);
    ASSERT_TRUE(waitUntilGone(pid));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platProcessOpen(pid));
    EXPECT_EQ(static_cast<uint32_t>(ESRCH), platLastError());
    EXPECT_EQ(-1, kill(static_cast<pid_t>(pid), 0));  // reaped, not a zombie
    EXPECT_EQ(PLAT_INVALID_HANDLE, platProcessOpen(0));
    EXPECT_EQ(0, platProcessAlive(0));
}

TEST_F(ProcessTest, OtherChildrenOfTheProgramAreLeftToItsOwnWait) {
    ChildProcess own;
    ASSERT_TRUE(own.start({"exit", "5"}));
    uint32_t pid = startChild("exit 0");
    ASSERT_TRUE(waitUntilGone(pid));
    EXPECT_EQ(5, own.wait());
}

static std::vector<std::string> openDescriptors(uint32_t pid) {
    std::vector<std::string> found;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return {"<unreadable>"};
    while (struct dirent *entry = readdir(d)) {
        std::string fd = entry->d_name;
        if (fd == "." || fd == ".." || fd == "0" || fd == "1" || fd == "2") continue;
        char target[512] = {};
        ssize_t n = readlink((dir + "/" + fd).c_str(), target, sizeof target - 1);
        found.push_back(fd + " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0));
    }
    closedir(d);
    return found;
}

// Right after its exec a child's loader still opens and closes its libraries
// (as descriptor 3), so the listing counts once it is empty or 2 s have
// passed: an inherited descriptor never goes away.
static std::vector<std::string> settledDescriptors(uint32_t pid) {
    std::vector<std::string> found = openDescriptors(pid);
    for (int tries = 0; tries < 100 && !found.empty(); tries++) {
        usleep(20 * 1000);
        found = openDescriptors(pid);
    }
    return found;
}

TEST_F(ProcessTest, ChildInheritsNoDescriptorAndDefaultSignals) {
    std::vector<std::string> inherited = openDescriptors(platProcessSelf());
    PlatHandle server = platPipeCreate("\\\\.\\pipe\\held", 1);
    int result = 0;
    PlatHandle client = platPipeOpen("\\\\.\\pipe\\held", &result);
    PlatHandle event = platEventCreate("held", 1, 0);
    PlatSocket socket = platSockTcp();
    ASSERT_TRUE(platHandleOpen(server) && platHandleOpen(client) && platHandleOpen(event));
    signal(SIGPIPE, SIG_IGN);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, nullptr);

    uint32_t pid = startChild("sleep 60000");
    ASSERT_NE(0u, pid);
    EXPECT_EQ(std::vector<std::string>(), settledDescriptors(pid));
    // Started the plain way too, every platform descriptor is close-on-exec:
    // the child holds only what this test program got from its own parent.
    ChildProcess plain;
    ASSERT_TRUE(plain.start({"hold"}));
    ASSERT_EQ("ready", plain.readLine());  // past exec, which closes them
    for (const std::string &fd : openDescriptors(static_cast<uint32_t>(plain.pid()))) {
        EXPECT_NE(inherited.end(), std::find(inherited.begin(), inherited.end(), fd)) << fd;
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    int seen = 0;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) {
            // Signals 1 to 31; the C library keeps a few above for itself.
            EXPECT_EQ(0u, std::stoull(line.substr(7), nullptr, 16) & 0x7FFFFFFFu) << line;
            seen++;
        }
    }
    EXPECT_EQ(2, seen);
    sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
    signal(SIGPIPE, SIG_DFL);
    platSockClose(socket);
    platCloseHandle(event);
    platCloseHandle(client);
    platCloseHandle(server);
}
