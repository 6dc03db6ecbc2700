// The substitute daily-calculation worker. It keeps the points the service
// relies on: the event and the pipe named by its key exist before any work,
// the numbers arrive one write each over one kept connection, and the event
// is set when a number is done. The work itself is one line on standard
// output. Test behaviours (pause, crash, missing event, missing signal) come
// from the environment, see worker/options.h.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/handle.h"
#include "platform/ipc_dir.h"
#include "platform/lifetime.h"
#include "platform/pipe.h"
#include "platform/signals.h"
#include "worker/options.h"

enum { EXIT_STOPPED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_CRASHED = 3 };
enum { READ_BUFFER_SIZE = 64 };  // room beyond 11 digits, so overlong input shows as one piece

struct WorkerLink {
    PlatHandle event;  // PLAT_NO_HANDLE when the test asked for no event
    PlatHandle pipe;
    int32_t handled;  // numbers received so far
};

static void reportSystemError(const WorkerOptions *options, const char *what) {
    char text[256];
    platErrorText(platLastError(), 1, text, sizeof text);
    fprintf(stderr, "DEV %s: %s failed: %s\n", options->key, what, text);
}

// A pause in slices, so that a stop ("kill") ends it at once. 1 when it ran
// its time, 0 when a stop ended it.
static int pauseUnlessStopped(uint32_t ms) {
    const uint32_t SLICE_MS = 50;
    int64_t end = platMonotonicMs() + ms;
    while (!platStopRequested()) {
        int64_t left = end - platMonotonicMs();
        if (left <= 0) return 1;
        platSleepMs(left < SLICE_MS ? static_cast<uint32_t>(left) : SLICE_MS);
    }
    return 0;
}

// A name that is taken is waited for. On Windows a connection that the
// service still holds to the pipe of this key's previous worker keeps that
// pipe alive until the service's next write to it fails; the hand-off after
// that finds this pipe. The wait ends with a stop, and so with the service.
static PlatHandle createPipe(const WorkerOptions *options) {
    const uint32_t RETRY_MS = 200;
    int reported = 0;
    for (;;) {
        PlatHandle pipe = platPipeCreate(options->pipePath, 0);
        if (platHandleOpen(pipe) || !platPipeNameTaken(platLastError())) return pipe;
        if (!reported) {
            fprintf(stderr, "DEV %s: the pipe name is taken; waiting for it\n", options->key);
            reported = 1;
        }
        if (!pauseUnlessStopped(RETRY_MS)) return PLAT_INVALID_HANDLE;
    }
}

// Auto reset: each set releases exactly one wait of the service and a set
// that comes before the service waits stays pending until it does, so a
// fast worker is never missed and an old signal never ends a later wait.
// The pipe comes first: a service that finds the event then always finds
// the pipe too.
static int openLink(const WorkerOptions *options, WorkerLink *link) {
    link->event = PLAT_NO_HANDLE;
    link->handled = 0;
    char problem[PLAT_IPC_PROBLEM_SIZE];
    if (platIpcDirCheck(problem, sizeof problem) != 0) {
        fputs(problem, stderr);  // in the service's words
        return 0;
    }
    link->pipe = createPipe(options);
    if (!platHandleOpen(link->pipe)) {
        if (!platStopRequested()) reportSystemError(options, "creating the pipe");
        return 0;
    }
    if (options->noEvent) return 1;
    link->event = platEventCreate(options->key, 0, 0);
    if (platHandleOpen(link->event)) return 1;
    reportSystemError(options, "creating the event");
    platCloseHandle(link->pipe);
    return 0;
}

static void closeLink(WorkerLink *link) {
    platCloseHandle(link->pipe);
    if (platHandleOpen(link->event)) platCloseHandle(link->event);
}

static void signalDone(const WorkerOptions *options, WorkerLink *link) {
    if (options->noSignal || !platHandleOpen(link->event)) return;
    if (platEventSet(link->event) != 0) reportSystemError(options, "setting the event");
}

static void handleNumber(const WorkerOptions *options, WorkerLink *link, const char *bytes,
                         size_t length) {
    if (!isParameterNumber(bytes, length)) {
        // The sender waits for the event in any case: answer, do no work.
        fprintf(stderr, "DEV %s: %zu bytes that are no parameter number ignored\n", options->key,
                length);
        signalDone(options, link);
        return;
    }
    link->handled++;
    // Stopped mid-work: no line, no signal.
    if (options->pauseMs > 0 && !pauseUnlessStopped(options->pauseMs)) return;
    if (options->crashAfter > 0 && link->handled == options->crashAfter) {
        fprintf(stderr, "DEV %s: ending abnormally at number %d as asked\n", options->key,
                link->handled);
        fflush(stderr);
        std::_Exit(EXIT_CRASHED);  // no clean-up at all, like a crash
    }
    printf("DEV %s %.*s\n", options->key, static_cast<int>(length), bytes);
    signalDone(options, link);
}

// Reads numbers from the attached service until the connection breaks.
// Returns PLAT_PIPE_BROKEN, PLAT_PIPE_INTERRUPTED or PLAT_PIPE_ERROR.
static int serveConnection(const WorkerOptions *options, WorkerLink *link) {
    for (;;) {
        char buffer[READ_BUFFER_SIZE];
        size_t got = 0;
        int rc = platPipeRead(link->pipe, buffer, sizeof buffer, &got);
        if (rc != PLAT_PIPE_OK) return rc;
        if (got > 0) handleNumber(options, link, buffer, got);
        if (platStopRequested()) return PLAT_PIPE_INTERRUPTED;
    }
}

static int serve(const WorkerOptions *options, WorkerLink *link) {
    while (!platStopRequested()) {
        int rc = platPipeConnect(link->pipe);
        if (rc == PLAT_PIPE_OK) rc = serveConnection(options, link);
        if (rc == PLAT_PIPE_INTERRUPTED) break;
        if (rc != PLAT_PIPE_BROKEN) {
            reportSystemError(options, "waiting on the pipe");
            return EXIT_FAILED;
        }
        if (platPipeDisconnect(link->pipe) != PLAT_PIPE_OK) {
            reportSystemError(options, "releasing the pipe");
            return EXIT_FAILED;
        }
    }
    return EXIT_STOPPED;
}

int main(int argc, char **argv) {
    platLineBufferedStdout();
    WorkerOptions options;
    char error[300];
    if (!parseWorkerArgs(argc, argv, &options, error, sizeof error)) {
        fprintf(stderr, "%s: %s\nusage: %s <settings path> USER:<key>\n",
                argc > 0 ? argv[0] : "DEV", error, argc > 0 ? argv[0] : "DEV");
        return EXIT_USAGE;
    }
    readWorkerEnvironment(&options);
    platStopSignalsInstall();
    // The service never stops its workers when it crashes; a worker left
    // behind would go on holding its key and take the hand-offs meant for the
    // worker that the next service starts. So a worker ends, as on "kill",
    // when the process that started it ends.
    if (platEndWithParent() == PLAT_PARENT_GONE) return EXIT_STOPPED;
    WorkerLink link;
    if (!openLink(&options, &link)) return platStopRequested() ? EXIT_STOPPED : EXIT_FAILED;
    int status = serve(&options, &link);
    closeLink(&link);
    return status;
}
