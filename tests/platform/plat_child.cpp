// Helper program for the platform tests: the first argument chooses a part
// to play in a separate process. Parts that hold objects print "ready" once
// the objects exist, then keep them until killed or done.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/lifetime.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/signals.h"

static void ready() {
    printf("ready\n");
    fflush(stdout);
}

static int holdForever() {
    for (;;) platSleepMs(1000);
}

// A blocking pipe server, as a worker runs one: prints what arrives, one
// line per read, and ends when the client has gone.
static int pipeServer(const char *name) {
    platStopSignalsInstall();
    PlatHandle pipe = platPipeCreate(name, 0);
    if (!platHandleOpen(pipe)) return 2;
    ready();
    if (platPipeConnect(pipe) != PLAT_PIPE_OK) return 3;
    for (;;) {
        char buf[64];
        size_t got = 0;
        int rc = platPipeRead(pipe, buf, sizeof buf - 1, &got);
        if (rc == PLAT_PIPE_BROKEN) return 0;
        if (rc != PLAT_PIPE_OK) return 4;
        buf[got] = '\0';
        printf("%s\n", buf);
        fflush(stdout);
    }
}

static int holdEvent(const char *name) {
    PlatHandle event = platEventCreate(name, 1, 0);
    if (!platHandleOpen(event)) return 2;
    ready();
    return holdForever();
}

static int waitEvent(const char *name) {
    PlatHandle event = platEventOpen(name);
    if (!platHandleOpen(event)) return 2;
    ready();
    return platEventWait(event, PLAT_WAIT_INFINITE) == PLAT_WAIT_SIGNALED ? 0 : 1;
}

// Writes each further argument on a line of its own into the file.
static int writeArgs(int argc, char **argv) {
    FILE *out = fopen(argv[2], "wb");  // the same line ends on every system
    if (out == nullptr) return 2;
    for (int i = 3; i < argc; i++) fprintf(out, "[%s]\n", argv[i]);
    return fclose(out) == 0 ? 0 : 3;
}

static int fileExists(const std::string &path) {
    FILE *file = fopen(path.c_str(), "r");
    if (file != nullptr) fclose(file);
    return file != nullptr;
}

// Arms the end with the parent, marks MARKER.armed, then waits on a blocking
// pipe until a stop request cuts the wait short; marks MARKER "stopped".
static int watch(const char *marker) {
    platStopSignalsInstall();
    if (platEndWithParent() != 0) return 3;
    std::string path = "\\\\.\\pipe\\kvs-watch-" + std::to_string(platProcessSelf());
    PlatHandle pipe = platPipeCreate(path.c_str(), 0);
    if (!platHandleOpen(pipe)) return 4;
    std::string armed = std::string(marker) + ".armed";
    if (platWritePrivateFile(armed.c_str(), "armed", 5) != 0) return 5;
    int rc = platPipeConnect(pipe);
    platCloseHandle(pipe);
    if (rc != PLAT_PIPE_INTERRUPTED || !platStopRequested()) return 6;
    return platWritePrivateFile(marker, "stopped", 7) == 0 ? 0 : 7;
}

// Starts a watcher (this program again) and ends once it is armed.
static int spawnWatch(const char *self, const char *marker) {
    std::string line = std::string("\"") + self + "\" watch \"" + marker + "\"";
    uint32_t pid = 0;
    if (platProcessStart(line.c_str(), &pid) != 0) return 2;
    std::string armed = std::string(marker) + ".armed";
    for (int waited = 0; waited < 20000 && !fileExists(armed); waited += 10) platSleepMs(10);
    return fileExists(armed) ? 0 : 3;
}

int main(int argc, char **argv) {
    const char *part = argc >= 2 ? argv[1] : "";
    if (argc >= 3 && strcmp(part, "sleep") == 0) {
        platSleepMs(static_cast<uint32_t>(strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (strcmp(part, "hold") == 0) {
        ready();
        return holdForever();
    }
    if (argc >= 3 && strcmp(part, "exit") == 0) return atoi(argv[2]);
    if (argc >= 3 && strcmp(part, "pipe-server") == 0) return pipeServer(argv[2]);
    if (argc >= 3 && strcmp(part, "hold-event") == 0) return holdEvent(argv[2]);
    if (argc >= 3 && strcmp(part, "wait-event") == 0) return waitEvent(argv[2]);
    if (argc >= 3 && strcmp(part, "write-args") == 0) return writeArgs(argc, argv);
    if (argc >= 3 && strcmp(part, "watch") == 0) return watch(argv[2]);
    if (argc >= 3 && strcmp(part, "spawn-watch") == 0) return spawnWatch(argv[0], argv[2]);
    fprintf(stderr, "kvs_plat_child: unknown part\n");
    return 99;
}
