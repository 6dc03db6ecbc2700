// kvsctl: the operator's handle on a running service, through its control
// pipe. The service looks at the pipe once per pass of its main loop, and a
// pass can wait up to a minute for a client; so after every write kvsctl
// connects once to the service's port and hangs up, which ends that wait and
// makes the service read the pipe at once.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/credentials.h"
#include "platform/clock.h"
#include "platform/ipc_dir.h"
#include "platform/pipe.h"
#include "platform/socket.h"
#include "service/control_pipe.h"
#include "tools/job_status.h"
#include "tools/service_port.h"

enum {
    EXIT_OK = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
    OPEN_ATTEMPT_MS = 5000,  // how long a busy pipe is retried
    RETRY_PAUSE_MS = 100,
    ANSWER_WAIT_MS = 5000,
    GONE_POLL_MS = 200,
};

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);  // the arguments after the command
    const char *arguments;
    const char *help;
};

static int usage();

// Connects to the service and hangs up at once. A failure is harmless: the
// service then reads the pipe at the end of its current wait.
static void wakeService() {
    if (platSockStartup() != 0) return;
    PlatSocket s = platSockTcp();
    if (s == PLAT_NO_SOCKET) return;
    platSockConnect(s, "127.0.0.1", servicePortOfTools());
    platSockClose(s);
}

// Opens the control pipe. While another client holds the single instance (or
// the service has not yet made a new one after the last client left), wakes
// the service and tries again for a few seconds. Once the pipe was seen busy,
// its name missing for a moment is the service making it anew, not its end.
static PlatHandle openPipe() {
    char problem[PLAT_IPC_PROBLEM_SIZE];
    if (platIpcDirCheck(problem, sizeof problem) != 0) {
        fputs(problem, stderr);  // the service refuses the same directory in these words
        return PLAT_INVALID_HANDLE;
    }
    int result = PLAT_PIPE_ERROR;
    int sawBusy = 0;
    int64_t giveUp = platMonotonicMs() + OPEN_ATTEMPT_MS;
    for (;;) {
        PlatHandle pipe = platPipeOpen(CONTROL_PIPE_NAME, &result);
        if (platHandleOpen(pipe)) return pipe;
        if (result == PLAT_PIPE_BUSY) sawBusy = 1;
        int retry = result == PLAT_PIPE_BUSY || (sawBusy && result == PLAT_PIPE_NOT_FOUND);
        if (!retry || platMonotonicMs() >= giveUp) break;
        wakeService();
        platSleepMs(RETRY_PAUSE_MS);
    }
    if (result == PLAT_PIPE_NOT_FOUND)
        fprintf(stderr, "kvsctl: no KVSTGBSTR service is running\n");
    else if (result == PLAT_PIPE_BUSY)
        fprintf(stderr, "kvsctl: the control pipe stays busy\n");
    else
        fprintf(stderr, "kvsctl: cannot open the control pipe (error %u)\n", platLastError());
    return PLAT_INVALID_HANDLE;
}

static int sendMessage(PlatHandle pipe, const char *message) {
    size_t written = 0;
    if (platPipeWrite(pipe, message, strlen(message), &written) == PLAT_PIPE_OK) return 1;
    fprintf(stderr, "kvsctl: cannot write to the control pipe (error %u)\n", platLastError());
    return 0;
}

// The service holds its control pipe until the process ends, so the pipe's
// name disappearing tells that the shutdown has finished.
static int waitUntilGone(int seconds) {
    int64_t giveUp = platMonotonicMs() + static_cast<int64_t>(seconds) * 1000;
    for (;;) {
        int result = PLAT_PIPE_ERROR;
        PlatHandle pipe = platPipeOpen(CONTROL_PIPE_NAME, &result);
        if (platHandleOpen(pipe)) platCloseHandle(pipe);
        if (result == PLAT_PIPE_NOT_FOUND) return 1;
        if (platMonotonicMs() >= giveUp) return 0;
        platSleepMs(GONE_POLL_MS);
    }
}

static int parseSeconds(const char *text, int *seconds) {
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 86400) return 0;
    *seconds = static_cast<int>(value);
    return 1;
}

static int commandStop(int argc, char **argv) {
    int waitSeconds = -1;
    if (argc == 2 && strcmp(argv[0], "--wait") == 0) {
        if (!parseSeconds(argv[1], &waitSeconds)) return usage();
    } else if (argc != 0) {
        return usage();
    }
    PlatHandle pipe = openPipe();
    if (!platHandleOpen(pipe)) return EXIT_FAILED;
    int sent = sendMessage(pipe, "*END");
    platCloseHandle(pipe);
    if (!sent) return EXIT_FAILED;
    wakeService();
    printf("stop requested\n");
    if (waitSeconds < 0) return EXIT_OK;
    if (waitUntilGone(waitSeconds)) {
        printf("service stopped\n");
        return EXIT_OK;
    }
    fprintf(stderr, "kvsctl: the service is still stopping after %d s\n", waitSeconds);
    return EXIT_FAILED;
}

// Reads the answer to "*PID": whatever arrives first, at most a few bytes.
static int readAnswer(PlatHandle pipe, char *answer, size_t size) {
    if (platPipeWaitReadable(pipe, ANSWER_WAIT_MS) != 1) return 0;
    size_t got = 0;
    if (platPipeRead(pipe, answer, size - 1, &got) != PLAT_PIPE_OK || got == 0) return 0;
    answer[got] = '\0';
    return 1;
}

static int commandPid(int argc, char **) {
    if (argc != 0) return usage();
    PlatHandle pipe = openPipe();
    if (!platHandleOpen(pipe)) return EXIT_FAILED;
    char answer[CONTROL_READ_SIZE + 1];
    int ok = sendMessage(pipe, "*PID");
    if (ok) {
        wakeService();
        ok = readAnswer(pipe, answer, sizeof answer);
        if (!ok) fprintf(stderr, "kvsctl: the service did not answer\n");
    }
    platCloseHandle(pipe);
    if (!ok) return EXIT_FAILED;
    printf("%s\n", answer);
    return EXIT_OK;
}

static int commandStatus(int argc, char **argv) {
    const char *path = CREDENTIALS_PATH;
    if (argc == 2 && strcmp(argv[0], "--credentials") == 0)
        path = argv[1];
    else if (argc != 0)
        return usage();
    return printJobStatus(path);
}

static const Command s_commands[] = {
    {"stop", commandStop, "[--wait SECONDS]",
     "stop the service (it stops its workers first); --wait: until it has ended"},
    {"pid", commandPid, "", "ask the service for its process number"},
    {"status", commandStatus, "[--credentials FILE]",
     "the DEV jobs of the job table (default credentials: " CREDENTIALS_PATH ")"},
};

static int usage() {
    fprintf(stderr, "usage: kvsctl COMMAND [OPTIONS]\n");
    for (const Command &c : s_commands)
        fprintf(stderr, "  %-6s %-21s %s\n", c.name, c.arguments, c.help);
    return EXIT_USAGE;
}

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    for (const Command &c : s_commands)
        if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    return usage();
}
