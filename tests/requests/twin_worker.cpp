// A second worker for a key that already has one: it shares the other
// worker's event (the task key) but serves a pipe of its own name, as a job
// row whose JOBUSR repeats another row's while its JOBURV differs describes.
//
//   requests_twin EVENT PIPE
//
// Each number read from the pipe is printed as "TWIN <PIPE> <number>" and
// answered by setting the event. SIGTERM ends it with status 0.
#include <cstdio>
#include <string>

#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/signals.h"

namespace {

int serve(PlatHandle event, PlatHandle pipe, const char *pipeName) {
    while (!platStopRequested()) {
        if (platPipeConnect(pipe) != PLAT_PIPE_OK) return platStopRequested() ? 0 : 1;
        for (;;) {
            char buffer[64];
            size_t got = 0;
            int rc = platPipeRead(pipe, buffer, sizeof buffer, &got);
            if (rc == PLAT_PIPE_INTERRUPTED) return 0;
            if (rc != PLAT_PIPE_OK) break;
            printf("TWIN %s %.*s\n", pipeName, static_cast<int>(got), buffer);
            platEventSet(event);
        }
        platPipeDisconnect(pipe);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: requests_twin EVENT PIPE\n");
        return 2;
    }
    platLineBufferedStdout();
    platStopSignalsInstall();
    // Auto reset, like the worker whose event this is.
    PlatHandle event = platEventCreate(argv[1], 0, 0);
    std::string path = std::string("\\\\.\\pipe\\") + argv[2];
    PlatHandle pipe = platPipeCreate(path.c_str(), 0);
    if (!platHandleOpen(event) || !platHandleOpen(pipe)) {
        fprintf(stderr, "requests_twin: event or pipe cannot be created\n");
        return 1;
    }
    int status = serve(event, pipe, argv[2]);
    platCloseHandle(pipe);
    platCloseHandle(event);
    return status;
}
