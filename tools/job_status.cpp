#include "tools/job_status.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "config/credentials.h"
#include "db/db.h"
#include "db/jobs.h"
#include "platform/process.h"

const char *jobStatusMeaning(const char *status) {
    if (status[0] == '\0' || strcmp(status, JOB_STATUS_NEW) == 0) return "never started";
    if (strcmp(status, JOB_STATUS_RUNNING) == 0) return "running";
    if (strcmp(status, JOB_STATUS_FAILED) == 0) return "start failed";
    if (strcmp(status, JOB_STATUS_ENDED) == 0) return "ended";
    return "unknown status";
}

const char *jobProcessState(const TaskRecord *row) {
    char *end = nullptr;
    unsigned long pid = strtoul(row->JOBNUM, &end, 10);
    if (row->JOBNUM[0] == '\0' || *end != '\0' || pid == 0) return "-";
    PlatHandle process = platProcessOpen(static_cast<uint32_t>(pid));
    if (!platHandleOpen(process)) return "gone";
    char name[260] = "unknown";
    platProcessModuleName(process, name, sizeof name);
    platCloseHandle(process);
    return kvsEqualNoCase(name, row->JOBNAM) ? "running" : "other program";
}

static void printRow(const TaskRecord *row) {
    char status[40];
    kvsFormat(status, sizeof status, "%-2s %s", row->JOBSTS, jobStatusMeaning(row->JOBSTS));
    printf("%-24s %-19s %-8s %-13s %-18s %-14s %-14s %5d\n", row->JOBUSR, status, row->JOBNUM,
           jobProcessState(row), row->JOBNAM, row->JOBSDA, row->JOBEDA, row->JOBSTV);
}

int printJobStatus(const char *credentialsPath) {
    loadCredentials(credentialsPath);
    if (g_credentials.dbSystem[0] == '\0') {
        fprintf(stderr, "kvsctl: no usable credentials in %s\n", credentialsPath);
        return 1;
    }
    if (DbConnect(g_credentials.login, g_credentials.pass, g_credentials.database) != 0) {
        fprintf(stderr, "kvsctl: cannot connect to data source %s\n", g_credentials.database);
        return 1;
    }
    int result = SQLOpenKvs500Job(JOB_TYPE_DEV);
    if (result != 0) {
        fprintf(stderr, "kvsctl: cannot read the job table (%d: %s)\n", result,
                g_diagRecord.sqlMsg);
        return 1;
    }
    printf("%-24s %-19s %-8s %-13s %-18s %-14s %-14s %5s\n", "WORKER KEY", "STATUS", "PID",
           "PROCESS", "PROGRAM", "STARTED", "ENDED", "TRIES");
    TaskRecord row;
    for (;;) {  // the cursor delivers the DEV jobs (type 06) only
        clearTaskRecord(&row);
        result = SQLFetchKvs500Job(&row);
        if (result != 0) break;
        printRow(&row);
    }
    SQLCloseKvs500Job();
    DbDisconnect();
    if (result != g_dbNoData) {
        fprintf(stderr, "kvsctl: reading the job table failed (%d: %s)\n", result,
                g_diagRecord.sqlMsg);
        return 1;
    }
    return 0;
}
