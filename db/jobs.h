// Statements on the job table KVSYSTEM.KVS500JOB.
//
// Results: 0 success; -1 no statement handle (or no cursor open, or a text
// that would not fit the statement buffer); the native error code of a
// failure (-1 where the driver gives none); the no-data code at the end of
// the rows. A fetch or query changes the caller's record only on success.
// Values are placed into the texts with every single quote doubled.
#pragma once

#include "tasks/task.h"

int SQLOpenKvs500Job(const char *jobType);
int SQLFetchKvs500Job(TaskRecord *record);
int SQLCloseKvs500Job();
// The next startable DEV job (type "06", status NULL, blank, or "90" and
// above, fewer than 11 starts), the oldest first. 100 when there is none.
int SQLSelectKvs500JobDEV(TaskRecord *record);
int SQLUpdateKvs500Job(const TaskRecord *record);
int SQLInsertKvs500Job(const TaskRecord *record);
int SQLDeleteKvs500Job(const char *jobda1, const char *jobke2);

// The statement texts, formatted into g_sqlText without executing them; the
// statements above use these. 0 formatted; -1 the text would not fit (or,
// for the DEV query, the DB_SYSTEM text names no dialect).
int SQLTextOpenKvs500Job(const char *jobType);
int SQLTextSelectKvs500JobDEV();
int SQLTextUpdateKvs500Job(const TaskRecord *record);
int SQLTextInsertKvs500Job(const TaskRecord *record);
int SQLTextDeleteKvs500Job(const char *jobda1, const char *jobke2);
