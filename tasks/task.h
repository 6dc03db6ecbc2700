// The task record (one DEV worker job of the job table plus the runtime state
// of its worker) and the task table the service keeps for its whole run.
#pragma once

#include <cstdint>

#include "platform/handle.h"

// JobStatus: the two-character status in JOBSTS.
#define JOB_STATUS_NEW "  "      // never started (or NULL)
#define JOB_STATUS_RUNNING "01"  // worker started and running
#define JOB_STATUS_FAILED "90"   // the process could not be created
#define JOB_STATUS_ENDED "98"    // found gone, stopped, or displaced
#define JOB_TYPE_DEV "06"        // daily-calculation worker job

enum {
    TASK_TABLE_SLOTS = 256,
    TASK_MAX_START_ATTEMPTS = 11,  // JOBSTV above 10 refuses a start
    TASK_TIMESTAMP_SIZE = 15,      // 14 digits and NUL
};

struct TaskRecord {
    uint32_t jobPid;     // process id of the worker; 0 = none known
    char taskName[260];  // lower-cased module name of the worker, or "unknown"
    char JOBDA1[15];
    char JOBKE2[33];
    char JOBURV[257];  // pipe name without "\\.\pipe\"
    char JOBRTY[3];
    char JOBSTS[3];
    char JOBNAM[65];
    char JOBUSR[129];  // worker key: event name and request key
    char JOBNUM[9];
    char JOBSDA[15];
    char JOBEDA[15];
    char JOBCMD[257];
    int32_t JOBMRT;
    int32_t JOBSTV;         // start attempts
    int32_t parmKey;        // number being handed over, 0 otherwise
    PlatHandle pipeHandle;  // kept client end of the worker's pipe
    int32_t unsaved;        // 1 while the row lacks the record's state (a failed update)
};

struct TaskTable {
    TaskRecord slots[TASK_TABLE_SLOTS];
    int32_t count;
};

extern TaskTable g_taskTable;

// Clears every field: numbers 0, texts empty, pipe not open.
void clearTaskRecord(TaskRecord *record);

// Closes the kept connection to the worker's pipe, if any; the next hand-off
// opens the pipe afresh.
void closeTaskPipe(TaskRecord *record);

// Copies record into the next free slot. 1 appended, 0 the table is full.
int appendTask(const TaskRecord *record);

// The local time as 14 digits, "%04d%02d%02d%02d%02d%02d".
void formatTimestamp(char (&out)[TASK_TIMESTAMP_SIZE]);
