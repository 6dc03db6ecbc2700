// Stand-in until the job statements land.
#include "db/jobs.h"
int SQLOpenKvs500Job(const char *) { return -1; }
int SQLFetchKvs500Job(TaskRecord *) { return -1; }
int SQLCloseKvs500Job() { return 0; }
int SQLSelectKvs500JobDEV(TaskRecord *) { return 100; }
int SQLUpdateKvs500Job(const TaskRecord *) { return -1; }
int SQLInsertKvs500Job(const TaskRecord *) { return -1; }
int SQLDeleteKvs500Job(const char *, const char *) { return -1; }
