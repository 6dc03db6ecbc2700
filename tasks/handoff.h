// Hands a parameter number to a task's worker and waits for its end signal.
#pragma once

#include "tasks/task.h"

enum {
    HANDOFF_PIPE_PATH_SIZE = 64,  // "\\.\pipe\" and the name: 63 characters
    HANDOFF_MAX_PIPE_NAME = 54,
    HANDOFF_WAIT_SLICE_MS = 1000,  // between two looks at the worker process
};

// 1 when the worker signalled the end of its work, 0 on any failure.
int workTask(TaskRecord *task);
