// Processes, with the real worker program and kill.exe of the build (in
// ..\bin beside this program's folder), and the helper roles of this program.
#include "platform/process.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/lifetime.h"
#include "platform/pipe.h"
#include "platform/signals.h"
#include "tests/win32/runner.h"

const uint32_t NOT_FOUND_CODE = 2;
const int SETTLE_MS = 10000;  // a bound for slow starts, never a measure

static int waitUntil(int (*done)(const void *), const void *arg) {
    for (int waited = 0; waited < SETTLE_MS; waited += 20) {
        if (done(arg)) return 1;
        platSleepMs(20);
    }
    return done(arg);
}

static int eventExists(const void *name) {
    PlatHandle event = platEventOpen(static_cast<const char *>(name));
    if (!platHandleOpen(event)) return 0;
    platCloseHandle(event);
    return 1;
}

static int processGone(const void *pid) {
    return !platProcessAlive(*static_cast<const uint32_t *>(pid));
}

static int fileExists(const void *path) {
    FILE *file = fopen(static_cast<const char *>(path), "r");
    if (file != nullptr) fclose(file);
    return file != nullptr;
}

// Starts "DIR\..\bin\PROGRAM" ARGUMENTS.
static uint32_t startBinProgram(const char *program, const char *arguments, uint32_t *pid) {
    char line[1024];
    kvsFormat(line, sizeof line, "\"%s..\\bin\\%s\" %s", winTestProgramDir(), program, arguments);
    return platProcessStart(line, pid);
}

static int moduleNameOf(uint32_t pid, char *out, size_t size) {
    for (int tries = 0; tries < 100; tries++) {  // the first module shows a little late
        PlatHandle process = platProcessOpen(pid);
        int ok = platHandleOpen(process) && platProcessModuleName(process, out, size);
        if (platHandleOpen(process)) platCloseHandle(process);
        if (ok) return 1;
        platSleepMs(20);
    }
    return 0;
}

WIN_TEST(workerTakesANumberThenKillEndsItAndItsNamesGo) {
    char key[64], path[96], name[64];
    winTestUniqueName("W#T", key, sizeof key);
    kvsFormat(path, sizeof path, "\\\\.\\pipe\\%s", key);
    char arguments[160];
    kvsFormat(arguments, sizeof arguments, "settings.ini USER:%s", key);
    uint32_t pid = 0;
    CHECK_EQ(startBinProgram("DEV_MYSQL.EXE", arguments, &pid), 0);
    CHECK(pid != 0 && platProcessAlive(pid));
    CHECK(waitUntil(eventExists, key));
    CHECK(moduleNameOf(pid, name, sizeof name));
    CHECK(kvsEqualNoCase(name, "DEV_MYSQL.EXE"));

    PlatHandle event = platEventOpen(key);
    int result = -1;
    PlatHandle pipe = platPipeOpen(path, &result);
    CHECK_EQ(result, PLAT_PIPE_OK);
    CHECK(platEventPulse(event));
    size_t written = 0;
    CHECK_EQ(platPipeWrite(pipe, "4711", 4, &written), PLAT_PIPE_OK);
    CHECK_EQ(platEventWait(event, SETTLE_MS), PLAT_WAIT_SIGNALED);
    CHECK_EQ(platPipeOpen(path, &result), PLAT_INVALID_HANDLE);
    CHECK_EQ(result, PLAT_PIPE_BUSY);
    platCloseHandle(event);

    char killArguments[32];
    kvsFormat(killArguments, sizeof killArguments, "%u", pid);
    uint32_t killer = 0;
    CHECK_EQ(startBinProgram("kill.exe", killArguments, &killer), 0);
    CHECK(waitUntil(processGone, &pid));
    CHECK_EQ(platProcessOpen(pid), PLAT_INVALID_HANDLE);
    CHECK(!eventExists(key));
    CHECK_EQ(platPipeWrite(pipe, "4712", 4, &written), PLAT_PIPE_BROKEN);
    platCloseHandle(pipe);
    CHECK_EQ(platPipeOpen(path, &result), PLAT_INVALID_HANDLE);
    CHECK_EQ(result, PLAT_PIPE_NOT_FOUND);
}

WIN_TEST(startingAMissingProgramGivesTheSystemCode) {
    uint32_t pid = 12345;
    uint32_t code = platProcessStart("kvs-no-such-program.exe arg", &pid);
    CHECK_EQ(code, NOT_FOUND_CODE);
    CHECK_EQ(platLastError(), NOT_FOUND_CODE);
    CHECK_EQ(pid, 12345);
    CHECK(platProcessStart("", &pid) != 0);
    CHECK(platProcessStart(nullptr, &pid) != 0);
}

WIN_TEST(ownProcessIsAliveAndNamedNobodyIsNot) {
    uint32_t self = platProcessSelf();
    CHECK(platProcessAlive(self));
    char name[64];
    CHECK(moduleNameOf(self, name, sizeof name));
    CHECK(kvsEqualNoCase(name, "plat_win32_test.exe"));
    CHECK(!platProcessAlive(0));
    CHECK_EQ(platProcessOpen(0), PLAT_INVALID_HANDLE);
    CHECK(!platProcessModuleName(PLAT_INVALID_HANDLE, name, sizeof name));
}

// The watcher's parent ends at once; the stop request that follows must cut
// the watcher's blocking pipe wait short.
WIN_TEST(stopRequestWhenTheParentEndsCutsABlockingPipeWait) {
    char marker[64], arguments[160];
    winTestUniqueName("kvs-watch", marker, sizeof marker);
    kvsFormat(arguments, sizeof arguments, "\"%splat_win32_test.exe\" child spawn-watch %s",
              winTestProgramDir(), marker);
    uint32_t pid = 0;
    CHECK_EQ(platProcessStart(arguments, &pid), 0);
    CHECK(waitUntil(fileExists, marker));
    remove(marker);
}

// child watch MARKER: waits on a blocking pipe until a stop request comes.
static int watch(const char *marker) {
    platStopSignalsInstall();
    if (!platEndWithParent()) return 3;
    char path[96];
    kvsFormat(path, sizeof path, "\\\\.\\pipe\\kvs-watch-%u", platProcessSelf());
    PlatHandle pipe = platPipeCreate(path, 0);
    if (!platHandleOpen(pipe)) return 4;
    int rc = platPipeConnect(pipe);
    platCloseHandle(pipe);
    if (rc != PLAT_PIPE_INTERRUPTED || !platStopRequested()) return 5;
    return platWritePrivateFile(marker, "stopped", 7) == 0 ? 0 : 6;
}

int winChildMain(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[0], "watch") == 0) return watch(argv[1]);
    if (argc == 2 && strcmp(argv[0], "spawn-watch") == 0) {
        char line[600];
        kvsFormat(line, sizeof line, "\"%splat_win32_test.exe\" child watch %s",
                  winTestProgramDir(), argv[1]);
        uint32_t pid = 0;
        if (platProcessStart(line, &pid) != 0) return 1;
        platSleepMs(300);  // the watcher arms itself while its parent still lives
        return 0;
    }
    fprintf(stderr, "unknown child role\n");
    return 2;
}
