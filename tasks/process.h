// Worker process control: start, check, stop, and the start-up and shutdown
// passes over the task table.
#pragma once

#include <cstdint>

#include "tasks/task.h"

enum StartResult {
    START_OK = 1,
    START_UPDATE_FAILED = 88,  // the row could not be written; the caller reconnects
    START_REFUSED = 89,        // JOBSTV above 10: nothing done
    START_FAILED = 90,         // the process could not be created
};

enum { TASK_NAME_ATTEMPTS = 30, TASK_NAME_RETRY_MS = 100 };

int startTask(TaskRecord *task);
void markPidReuse(uint32_t pid);
void checkTask(TaskRecord *task);
void stopTask(TaskRecord *task);
void startAllTasks();
void checkAllTasks();
void stopAllTasks();
void TaskInfo();
