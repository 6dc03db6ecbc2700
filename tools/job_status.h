// The job-table view of "kvsctl status": one row per DEV worker job, read
// through the service's own credentials file and data source. Read-only.
#pragma once

#include "tasks/task.h"

// The meaning of a JOBSTS value for operators.
const char *jobStatusMeaning(const char *status);

// Whether the recorded process still runs the recorded program: "running",
// "gone", "other program" (the id now belongs to something else) or "-"
// when no process id is recorded.
const char *jobProcessState(const TaskRecord *row);

// Connects with the credentials file and prints the table. 0 when the table
// could be read, 1 otherwise (with a message on standard error).
int printJobStatus(const char *credentialsPath);
