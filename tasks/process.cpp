// Stand-in until worker process control lands.
#include "tasks/process.h"
int startTask(TaskRecord *) { return START_FAILED; }
void markPidReuse(uint32_t) {}
void checkTask(TaskRecord *) {}
void stopTask(TaskRecord *) {}
void startAllTasks() {}
void checkAllTasks() {}
void stopAllTasks() {}
void TaskInfo() {}
