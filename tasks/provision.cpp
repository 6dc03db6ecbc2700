// Start-up provisioning of the DEV worker jobs (type "06") in the job table.
#include "tasks/provision.h"

#include <cstring>

#include "common/text.h"
#include "db/db.h"
#include "db/jobs.h"
#include "db/tenants.h"
#include "log/log.h"
#include "tasks/process.h"

static const char FIXED_JOB_TIME[] = "20000101000000";

// A row whose program name begins with "DEV" was used by a worker of an
// earlier run; a row never started has an empty name.
static int usedByWorker(const char *jobName) {
    char prefix[4];
    kvsCopyN(prefix, sizeof prefix, jobName, 3);
    return kvsEqualNoCase(prefix, "DEV");
}

void CheckRT06Jobs() {
    int rc = SQLOpenKvs500Job(JOB_TYPE_DEV);
    if (rc != 0) writeLogf("Check RT06Job: Open Cursor! RC: %ld\n", static_cast<long>(rc));
    while (rc == 0) {
        TaskRecord record;
        clearTaskRecord(&record);
        rc = SQLFetchKvs500Job(&record);
        if (rc != 0) {
            if (rc != g_dbNoData) {
                writeLogf("Check RT06Job: Fetch Cursor! RC: %ld\n", static_cast<long>(rc));
            }
            break;
        }
        if (!usedByWorker(record.JOBNAM)) continue;
        // The record carries no process id, so this only marks the row ended.
        stopTask(&record);
        rc = SQLDeleteKvs500Job(record.JOBDA1, record.JOBKE2);
        if (rc != 0) {
            writeLogf("- Delete Job (CheckRT06Jobs): DEV! RC: %ld\n", static_cast<long>(rc));
        }
    }
    SQLCloseKvs500Job();
}

const char *rt06ProgramName(const char *dbSystem) {
    return strcmp(dbSystem, "MSSQL") == 0 ? "SQLSERVER" : dbSystem;
}

// The worker key: "ALLE" for partition 1, "ALLE<i>" for the others, "KORR"
// for the correction job.
static void formatUserPart(char *out, size_t size, int partition) {
    if (partition == RT06_CORRECTION_JOB) {
        kvsCopy(out, size, "KORR");
    } else if (partition == 1) {
        kvsCopy(out, size, "ALLE");
    } else {
        kvsFormat(out, size, "ALLE%d", partition);
    }
}

void fillRT06Job(TaskRecord *record, const char *program, const char *schema,
                 const char *settingsPath, int partition) {
    clearTaskRecord(record);
    char user[8];
    formatUserPart(user, sizeof user, partition);
    kvsCopy(record->JOBDA1, FIXED_JOB_TIME);
    kvsFormat(record->JOBKE2, sizeof record->JOBKE2, "DEV:%s#%s", schema, user);
    kvsFormat(record->JOBCMD, sizeof record->JOBCMD, "DEV_%s.EXE %s USER:%s#%s", program,
              settingsPath, schema, user);
    kvsFormat(record->JOBURV, sizeof record->JOBURV, "%s#%s", schema, user);
    kvsFormat(record->JOBUSR, sizeof record->JOBUSR, "%s#%s", schema, user);
    kvsCopy(record->JOBRTY, JOB_TYPE_DEV);
}

static void insertTenantJobs(const char *program, const char *schema, const char *settingsPath,
                             int partitions) {
    TaskRecord record;
    for (int i = 1; i <= partitions; i++) {
        fillRT06Job(&record, program, schema, settingsPath, i);
        int rc = SQLInsertKvs500Job(&record);
        if (rc != 0) {
            writeLogf("Insert-Fehler: DEV (ALLE) Jobeintrag fuer Schema %s RC: %ld!\n", schema,
                      static_cast<long>(rc));
        }
    }
    fillRT06Job(&record, program, schema, settingsPath, RT06_CORRECTION_JOB);
    int rc = SQLInsertKvs500Job(&record);
    if (rc != 0) {
        writeLogf("Insert-Fehler: DEV (KORR) Jobeintrag fuer Schema %s RC: %ld!\n", schema,
                  static_cast<long>(rc));
    }
}

void CreateRT06Jobs() {
    const char *program = rt06ProgramName(DbSystem());
    // A failed open leaves no cursor; the first fetch then reports it.
    SQLOpenKvs112Mnd();
    for (;;) {
        char schema[TENANT_SCHEMA_SIZE] = "";
        char settingsPath[TENANT_SETTINGS_SIZE] = "";
        int rc = SQLFetchKvs112Mnd(schema, settingsPath);
        if (rc != 0) {
            if (rc != g_dbNoData) {
                writeLogf("Fehler Mandanten ermitteln RC: %ld!\n", static_cast<long>(rc));
            }
            SQLCloseKvs112Mnd();
            return;
        }
        int partitions = SQLCountPersonalstamm(schema);
        if (partitions <= 0 || schema[0] == '\0') continue;
        insertTenantJobs(program, schema, settingsPath, partitions);
    }
}
