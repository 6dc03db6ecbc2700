#include "tasks/persist.h"

#include <cstring>

#include "db/db.h"
#include "db/jobs.h"
#include "log/log.h"

// Set by a failed update, cleared by a successful statement or reconnect: a
// connection the database dropped answers every later statement with an
// error until it is made again.
static int s_lastFailed = 0;

// A failed start leaves its job startable, and every attempt has a slot of
// its own: slots that share a row hold older states of it than the record
// being written now, and must never be written over it later.
static void supersedeOlderSlots(const TaskRecord *task) {
    for (int32_t i = 0; i < g_taskTable.count; i++) {
        TaskRecord *slot = &g_taskTable.slots[i];
        if (slot != task && strcmp(slot->JOBDA1, task->JOBDA1) == 0 &&
            strcmp(slot->JOBKE2, task->JOBKE2) == 0)
            slot->unsaved = 0;
    }
}

int saveTask(TaskRecord *task) {
    supersedeOlderSlots(task);
    int rc = SQLUpdateKvs500Job(task);
    task->unsaved = rc != 0;
    s_lastFailed = rc != 0;
    return rc;
}

void reconnectDatabase() {
    if (DbReconnect()) s_lastFailed = 0;
}

int tasksUnsaved() {
    for (int32_t i = 0; i < g_taskTable.count; i++)
        if (g_taskTable.slots[i].unsaved) return 1;
    return 0;
}

void saveUnsavedTasks() {
    if (!tasksUnsaved()) return;
    if (s_lastFailed) {
        reconnectDatabase();
        if (s_lastFailed) return;
    }
    for (int32_t i = 0; i < g_taskTable.count; i++) {
        TaskRecord *task = &g_taskTable.slots[i];
        if (!task->unsaved) continue;
        if (saveTask(task) != 0) return;
        writeLogf("Update Kvs500Job nachgeholt: %s JobSts: %s JobNum: %s\n", task->JOBUSR,
                  task->JOBSTS, task->JOBNUM);
    }
}
