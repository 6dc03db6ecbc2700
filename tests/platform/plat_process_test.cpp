// Processes: the words a started child receives, a program that is not
// there, the own process, and a child that ends with its parent. Cases only
// one system can have are in plat_process_posix_test.cpp and
// plat_process_win32_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "tests/platform/child_process.h"
#include "tests/support/tempdir.h"

static const uint32_t NOT_FOUND_CODE = 2;  // ENOENT and ERROR_FILE_NOT_FOUND alike
static const int SETTLE_MS = 20000;        // a bound for slow starts, never a measure

static bool waitUntilGone(uint32_t pid) {
    for (int waited = 0; waited < SETTLE_MS && platProcessAlive(pid); waited += 5) platSleepMs(5);
    return !platProcessAlive(pid);
}

static std::string waitForFile(const std::string &path) {
    for (int waited = 0; waited < SETTLE_MS; waited += 20) {
        std::string text = readFile(path);
        if (!text.empty()) return text;
        platSleepMs(20);
    }
    return readFile(path);
}

TEST(PlatProcess, ChildReceivesTheWords) {
    TempDir dir;
    std::string file = dir.file("args");
    std::string line = "\"" + testProgram("kvs_plat_child") + "\" write-args \"" + file +
                       "\" one \"two three\" a\\\"b \"\"";
    uint32_t pid = 0;
    ASSERT_EQ(0u, platProcessStart(line.c_str(), &pid));
    ASSERT_NE(0u, pid);
    ASSERT_TRUE(waitUntilGone(pid));
    EXPECT_EQ("[one]\n[two three]\n[a\"b]\n[]\n", readFile(file));
}

TEST(PlatProcess, MissingProgramGivesTheSystemsNotFoundCode) {
    uint32_t pid = 12345;
    EXPECT_EQ(NOT_FOUND_CODE, platProcessStart("kvs-no-such-program.exe arg", &pid));
    EXPECT_EQ(NOT_FOUND_CODE, platLastError());
    EXPECT_EQ(12345u, pid);
    EXPECT_NE(0u, platProcessStart("", &pid));
    EXPECT_NE(0u, platProcessStart(nullptr, &pid));
    EXPECT_EQ(12345u, pid);
}

TEST(PlatProcess, OwnProcessIsAliveAndNobodyIsNot) {
    uint32_t self = platProcessSelf();
    EXPECT_EQ(1, platProcessAlive(self));
    PlatHandle own = platProcessOpen(self);
    ASSERT_TRUE(platHandleOpen(own));
    char name[64] = "";
    EXPECT_EQ(0, platProcessModuleName(own, name, sizeof name));
    EXPECT_EQ(0, strncmp(name, "plat_process_test", 17)) << name;  // ".exe" on Windows
    EXPECT_EQ(0, platCloseHandle(own));
    EXPECT_EQ(0, platProcessAlive(0));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platProcessOpen(0));
    EXPECT_NE(0, platProcessModuleName(PLAT_INVALID_HANDLE, name, sizeof name));
}

// The watcher's parent ends as soon as the watcher is armed; the stop request
// that follows must cut the watcher's blocking pipe wait short.
TEST(PlatProcess, ParentsEndCutsTheChildsBlockingPipeWaitShort) {
    TempDir dir;
    std::string marker = dir.file("watch");
    std::string line = "\"" + testProgram("kvs_plat_child") + "\" spawn-watch \"" + marker + "\"";
    uint32_t pid = 0;
    ASSERT_EQ(0u, platProcessStart(line.c_str(), &pid));
    EXPECT_EQ("stopped", waitForFile(marker));
}
