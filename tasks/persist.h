// Writing task records to their job rows. A row whose update failed is
// written again later, so the job table converges on the records once the
// database answers again.
#pragma once

#include "tasks/task.h"

enum {
    PERSIST_RETRY_SECONDS = 5,  // longest wait for a client while a row is unsaved
};

// Writes the record's state to its row (SQLUpdateKvs500Job). A failure marks
// the record unsaved, a success marks it saved. Returns the statement result.
int saveTask(TaskRecord *task);

// DbReconnect; a connection made again clears the failure that saveTask noted.
void reconnectDatabase();

// Writes every unsaved record of the task table again, one try each: after
// a failed statement the database is reconnected first, and the first
// failure ends the round, so a database that stays down costs one attempt.
void saveUnsavedTasks();

// 1 while a record of the task table waits to be written.
int tasksUnsaved();
