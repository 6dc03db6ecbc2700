// The hand-off of one parameter number to a task's worker: pulse the
// worker's event, write the digits into its pipe, wait for the event.
#include "tasks/handoff.h"

#include <cstring>

#include "common/text.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/signals.h"

static_assert(HANDOFF_PIPE_PATH_SIZE == 64, "the pipe path holds 63 characters");
static_assert(sizeof("\\\\.\\pipe\\") - 1 + HANDOFF_MAX_PIPE_NAME == HANDOFF_PIPE_PATH_SIZE - 1,
              "prefix and the longest pipe name fill the path exactly");

enum { HANDOFF_DIGITS_SIZE = 12 };  // "-2147483648" and NUL

// Builds "\\.\pipe\JOBURV". A name that does not fit is refused rather than
// cut: a cut name would reach another worker's pipe or none at all.
static int buildPipePath(const TaskRecord *task, char (&path)[HANDOFF_PIPE_PATH_SIZE]) {
    if (strlen(task->JOBURV) > HANDOFF_MAX_PIPE_NAME) {
        writeLogf("Pipename zu lang! Task: %s\n", task->JOBUSR);
        return 0;
    }
    kvsFormat(path, sizeof path, "\\\\.\\pipe\\%s", task->JOBURV);
    return 1;
}

static const char STOPPING_TEXT[] = "Stopsignal empfangen, KVSTGBSTR wird beendet";

// A worker just started needs a few milliseconds to create its pipe and its
// event, and the service does not wait for that when it starts one: while
// the task's worker process lives, the hand-off looks again until the
// deadline. A task without a live worker has nothing to wait for.
static int workerStarting(const TaskRecord *task, int64_t deadline) {
    return task->jobPid != 0 && platMonotonicMs() < deadline && platProcessAlive(task->jobPid);
}

static PlatHandle openEvent(const TaskRecord *task, int64_t deadline) {
    for (;;) {
        PlatHandle event = platEventOpen(task->JOBUSR);
        if (platHandleOpen(event) || !workerStarting(task, deadline)) return event;
        platSleepMs(HANDOFF_START_STEP_MS);
    }
}

// Opens the pipe unless the connection of an earlier hand-off is still held.
// A pipe that does not exist yet is waited for like the event; a taken one
// is not (the one instance is held by another connection).
static int ensurePipeOpen(TaskRecord *task, const char *path, int64_t deadline) {
    if (platHandleOpen(task->pipeHandle)) return 1;
    for (;;) {
        int result = PLAT_PIPE_ERROR;
        task->pipeHandle = platPipeOpen(path, &result);
        if (platHandleOpen(task->pipeHandle)) return 1;
        task->pipeHandle = PLAT_INVALID_HANDLE;
        if (result != PLAT_PIPE_NOT_FOUND || !workerStarting(task, deadline)) return 0;
        platSleepMs(HANDOFF_START_STEP_MS);
    }
}

// One write of exactly the digits. A failed write means the connection is
// dead (typically the worker was restarted): drop it so the next hand-off
// opens the new worker's pipe.
static int writeDigits(TaskRecord *task, const char *digits) {
    size_t length = strlen(digits);
    size_t written = 0;
    int result = platPipeWrite(task->pipeHandle, digits, length, &written);
    if (result == PLAT_PIPE_OK && written == length) return 1;
    closeTaskPipe(task);
    return 0;
}

static void logWaitFailure(const TaskRecord *task, const char *text) {
    writeLogf("Fehler WaitForSingleObject! Task: %s Fehler: %s\n", task->JOBUSR, text);
}

static void logWaitError(const TaskRecord *task, uint32_t code) {
    char text[LOG_LINE_SIZE];
    platErrorText(code, 1, text, sizeof text);
    logWaitFailure(task, text);
}

// The system's reason why the worker cannot be reached any more: opening the
// vanished process leaves it in platLastError(). A task without a known
// worker has no system error to show.
static void logWorkerGone(const TaskRecord *task) {
    if (task->jobPid == 0) {
        logWaitFailure(task, "No Info");
        return;
    }
    PlatHandle process = platProcessOpen(task->jobPid);
    if (platHandleOpen(process)) platCloseHandle(process);
    logWaitError(task, platLastError());
}

// A task whose own start failed (jobPid 0) can still share its key with a
// task whose worker runs: that worker holds the event and the pipe. The
// service never reads from the pipe, so the kept connection turns readable
// only when its worker's end has closed.
static int workerGone(const TaskRecord *task) {
    if (task->jobPid == 0) return platPipeWaitReadable(task->pipeHandle, 0) == 1;
    return !platProcessAlive(task->jobPid);
}

// The next slice of the wait, 0 when a stop request has used up the grace
// that a worker about to finish gets. *stopDeadline is 0 until a stop is seen.
static uint32_t nextSlice(int64_t *stopDeadline) {
    if (!platStopRequested()) return HANDOFF_WAIT_SLICE_MS;
    int64_t now = platMonotonicMs();
    if (*stopDeadline == 0) *stopDeadline = now + HANDOFF_STOP_GRACE_MS;
    int64_t left = *stopDeadline - now;
    if (left <= 0) return 0;
    if (left < HANDOFF_WAIT_SLICE_MS) return static_cast<uint32_t>(left);
    return HANDOFF_WAIT_SLICE_MS;
}

// Waits for the worker's end signal. A live worker is waited for without
// limit; between slices the worker is looked at, so one that died mid-work
// ends the wait instead of holding the service for ever. The connection to a
// dead worker's pipe is dropped with it, so the hand-off after the restart
// reaches the new worker at once. A stop request limits the wait: a worker
// that hangs must not keep the service from its shutdown.
static int waitForWorker(TaskRecord *task, PlatHandle event) {
    int64_t stopDeadline = 0;
    for (;;) {
        uint32_t slice = nextSlice(&stopDeadline);
        if (slice == 0) {
            logWaitFailure(task, STOPPING_TEXT);
            return 0;
        }
        int result = platEventWait(event, slice);
        if (result == PLAT_WAIT_SIGNALED) return 1;
        if (result != PLAT_WAIT_TIMEOUT) {
            logWaitError(task, platLastError());
            return 0;
        }
        if (workerGone(task)) {
            // The worker may have signalled just before it ended.
            if (platEventWait(event, 0) == PLAT_WAIT_SIGNALED) return 1;
            logWorkerGone(task);
            closeTaskPipe(task);
            return 0;
        }
    }
}

// Everything after the event is open; the caller closes the event.
static int handOver(TaskRecord *task, const char *path, PlatHandle event, int64_t deadline) {
    platEventPulse(event);
    if (!ensurePipeOpen(task, path, deadline)) return 0;

    char digits[HANDOFF_DIGITS_SIZE];
    kvsFormat(digits, sizeof digits, "%d", task->parmKey);
    writeLogf("Pipe %s open ok! Buffer: %s\n", path, digits);
    if (!writeDigits(task, digits)) return 0;
    writeLogf("Message mit ParmKey an DEV gesendet: %s!\n", digits);

    if (!waitForWorker(task, event)) return 0;
    writeLog("Ende-Info vom DEV erhalten!\n");
    return 1;
}

int workTask(TaskRecord *task) {
    char path[HANDOFF_PIPE_PATH_SIZE];
    if (!buildPipePath(task, path)) return 0;
    writeLogf("Beginn workTask! Pipename: %s\n", path);

    // The event is opened afresh for every hand-off: a restarted worker has
    // created a new one under the same name.
    int64_t deadline = platMonotonicMs() + HANDOFF_START_WAIT_MS;
    PlatHandle event = openEvent(task, deadline);
    if (!platHandleOpen(event)) {
        writeLogf("OpenEvent: Fehler Event %s!\n", task->JOBUSR);
        return 0;
    }
    int done = handOver(task, path, event, deadline);
    platCloseHandle(event);
    return done;
}
