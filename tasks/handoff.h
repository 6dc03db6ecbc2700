// Hands a parameter number to a task's worker and waits for its end signal.
#pragma once

#include "tasks/task.h"

enum {
    HANDOFF_PIPE_PATH_SIZE = 64,  // "\\.\pipe\" and the name: 63 characters
    HANDOFF_MAX_PIPE_NAME = 54,
    HANDOFF_WAIT_SLICE_MS = 250,    // between two looks at the worker and at a stop
    HANDOFF_START_WAIT_MS = 3000,   // a live worker's time to create its pipe and event
    HANDOFF_START_STEP_MS = 5,      // between two looks for them
    HANDOFF_STOP_GRACE_MS = 10000,  // a worker's time to finish once a stop arrived
};

// 1 when the worker signalled the end of its work, 0 on any failure.
int workTask(TaskRecord *task);
