// Statements on the job table KVSYSTEM.KVS500JOB.
#pragma once

#include "tasks/task.h"

int SQLOpenKvs500Job(const char *jobType);
int SQLFetchKvs500Job(TaskRecord *record);
int SQLCloseKvs500Job();
int SQLSelectKvs500JobDEV(TaskRecord *record);
int SQLUpdateKvs500Job(const TaskRecord *record);
int SQLInsertKvs500Job(const TaskRecord *record);
int SQLDeleteKvs500Job(const char *jobda1, const char *jobke2);
