#include "tasks/task.h"

#include <cstring>

#include "common/text.h"
#include "platform/clock.h"

TaskTable g_taskTable;

void clearTaskRecord(TaskRecord *record) {
    memset(record, 0, sizeof *record);
    record->pipeHandle = PLAT_NO_HANDLE;
}

void closeTaskPipe(TaskRecord *record) {
    if (platHandleOpen(record->pipeHandle)) platCloseHandle(record->pipeHandle);
    record->pipeHandle = PLAT_INVALID_HANDLE;
}

int appendTask(const TaskRecord *record) {
    if (g_taskTable.count >= TASK_TABLE_SLOTS) return 0;
    g_taskTable.slots[g_taskTable.count] = *record;
    g_taskTable.count++;
    return 1;
}

void formatTimestamp(char (&out)[TASK_TIMESTAMP_SIZE]) {
    PlatLocalTime now;
    platLocalTime(&now);
    kvsFormat(out, sizeof out, "%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day, now.hour,
              now.minute, now.second);
}
