// Processes on Windows: the real worker program and kill.exe of the build
// (in ..\bin beside the tests' folder), as the service meets them there.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "tests/platform/child_process.h"

static const int SETTLE_MS = 20000;  // a bound for slow starts, never a measure

// "<tests>\..\bin\PROGRAM", from the path of a helper beside the tests.
static std::string binProgram(const char *program) {
    std::string helper = testProgram("kvs_plat_child");
    return helper.substr(0, helper.find_last_of("\\/") + 1) + "..\\bin\\" + program;
}

static bool eventExists(const char *name) {
    PlatHandle event = platEventOpen(name);
    if (!platHandleOpen(event)) return false;
    platCloseHandle(event);
    return true;
}

static bool moduleNameOf(uint32_t pid, char *out, size_t size) {
    for (int waited = 0; waited < SETTLE_MS; waited += 20) {  // the first module shows late
        PlatHandle process = platProcessOpen(pid);
        bool ok = platHandleOpen(process) && platProcessModuleName(process, out, size) == 0;
        if (platHandleOpen(process)) platCloseHandle(process);
        if (ok) return true;
        platSleepMs(20);
    }
    return false;
}

TEST(PlatProcessWin32, WorkerTakesANumberThenKillEndsItAndItsNamesGo) {
    char key[64], path[96], name[64];
    kvsFormat(key, sizeof key, "W#T-%u", platProcessSelf());
    kvsFormat(path, sizeof path, "\\\\.\\pipe\\%s", key);
    std::string line = "\"" + binProgram("DEV_MYSQL.EXE") + "\" settings.ini USER:" + key;
    uint32_t pid = 0;
    ASSERT_EQ(0u, platProcessStart(line.c_str(), &pid));
    ASSERT_NE(0u, pid);
    for (int waited = 0; waited < SETTLE_MS && !eventExists(key); waited += 20) platSleepMs(20);
    ASSERT_TRUE(eventExists(key));
    ASSERT_TRUE(moduleNameOf(pid, name, sizeof name));
    EXPECT_TRUE(kvsEqualNoCase(name, "DEV_MYSQL.EXE")) << name;

    PlatHandle event = platEventOpen(key);
    int result = -1;
    PlatHandle pipe = platPipeOpen(path, &result);
    ASSERT_EQ(PLAT_PIPE_OK, result);
    EXPECT_EQ(0, platEventPulse(event));
    size_t written = 0;
    EXPECT_EQ(PLAT_PIPE_OK, platPipeWrite(pipe, "4711", 4, &written));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, platEventWait(event, SETTLE_MS));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeOpen(path, &result));
    EXPECT_EQ(PLAT_PIPE_BUSY, result);
    platCloseHandle(event);

    std::string kill = "\"" + binProgram("kill.exe") + "\" " + std::to_string(pid);
    uint32_t killer = 0;
    ASSERT_EQ(0u, platProcessStart(kill.c_str(), &killer));
    for (int waited = 0; waited < SETTLE_MS && platProcessAlive(pid); waited += 20) platSleepMs(20);
    EXPECT_EQ(0, platProcessAlive(pid));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platProcessOpen(pid));
    EXPECT_FALSE(eventExists(key));
    EXPECT_EQ(PLAT_PIPE_BROKEN, platPipeWrite(pipe, "4712", 4, &written));
    platCloseHandle(pipe);
    EXPECT_EQ(PLAT_INVALID_HANDLE, platPipeOpen(path, &result));
    EXPECT_EQ(PLAT_PIPE_NOT_FOUND, result);
}
