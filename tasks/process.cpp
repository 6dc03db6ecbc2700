// Worker process control. A worker is known by its process id and by the
// base name of its executable; every change of its state goes to its job
// row at once and to the log.
#include "tasks/process.h"

#include <cstring>

#include "common/text.h"
#include "db/db.h"
#include "db/jobs.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "tasks/persist.h"

enum {
    MODULE_NAME_SIZE = 260,
    ERROR_TEXT_SIZE = 256,
    KILL_COMMAND_SIZE = 32,
};

static const char UNKNOWN_NAME[] = "unknown";

// The executable's base name of an open process, "unknown" when it cannot be
// read.
static void readModuleName(PlatHandle process, char (&name)[MODULE_NAME_SIZE]) {
    kvsCopy(name, UNKNOWN_NAME);
    char read[MODULE_NAME_SIZE];
    if (platProcessModuleName(process, read, sizeof read) == 0 && read[0] != '\0')
        kvsCopy(name, read);
}

// A freshly started process may not show its executable at once: retry for
// up to three seconds before settling for "unknown".
static void readStartedName(uint32_t pid, char (&name)[MODULE_NAME_SIZE]) {
    for (int attempt = 0; attempt < TASK_NAME_ATTEMPTS; attempt++) {
        kvsCopy(name, UNKNOWN_NAME);
        PlatHandle process = platProcessOpen(pid);
        if (platHandleOpen(process)) {
            char read[MODULE_NAME_SIZE];
            int ok = platProcessModuleName(process, read, sizeof read) == 0 && read[0] != '\0';
            platCloseHandle(process);
            if (ok) {
                kvsCopy(name, read);
                return;
            }
        }
        platSleepMs(TASK_NAME_RETRY_MS);
    }
}

static void systemErrorText(uint32_t code, char (&text)[ERROR_TEXT_SIZE]) {
    platErrorText(code, 1, text, sizeof text);
}

// Reads the module name of process and compares it with expected; *name
// receives what was read.
static int runsProgram(PlatHandle process, const char *expected, char (&name)[MODULE_NAME_SIZE]) {
    readModuleName(process, name);
    return kvsEqualNoCase(name, expected);
}

static void recordStart(TaskRecord *task, uint32_t pid, const char *name, const char *startTime) {
    task->jobPid = pid;
    kvsCopy(task->JOBSTS, JOB_STATUS_RUNNING);
    kvsCopy(task->taskName, name);
    kvsToLower(task->taskName);
    // JOBNAM holds 64 characters; a longer module name is cut here, and
    // taskName keeps the whole name for the comparisons.
    kvsCopy(task->JOBNAM, task->taskName);
    // JOBNUM holds 8 digits. Linux process ids stay below pid_max, at most
    // 4194304, so every id fits; an id that did not fit would name another
    // process when cut, so the field is left empty instead.
    if (kvsFormat(task->JOBNUM, sizeof task->JOBNUM, "%d", static_cast<int>(pid))) {
        task->JOBNUM[0] = '\0';
    }
    kvsCopy(task->JOBSDA, startTime);
    task->JOBEDA[0] = '\0';
}

static int recordFailedStart(TaskRecord *task, uint32_t error) {
    char text[ERROR_TEXT_SIZE];
    systemErrorText(error, text);
    writeLogf("Start PGM: %s Cmd: %s fehlgeschlagen! %s\n", task->JOBNAM, task->JOBCMD, text);
    kvsCopy(task->JOBSTS, JOB_STATUS_FAILED);
    task->JOBNUM[0] = '\0';
    task->JOBSDA[0] = '\0';
    task->JOBEDA[0] = '\0';
    task->jobPid = 0;
    int rc = saveTask(task);
    if (rc == 0) return START_FAILED;
    writeLogf("Start PGM: %s Fehler Update Kvs500Job(2) RC: %ld\n", task->JOBCMD,
              static_cast<long>(rc));
    return START_UPDATE_FAILED;
}

int startTask(TaskRecord *task) {
    if (task->JOBSTV > TASK_MAX_START_ATTEMPTS - 1) return START_REFUSED;
    task->JOBSTV++;
    char startTime[TASK_TIMESTAMP_SIZE];
    formatTimestamp(startTime);

    uint32_t pid = 0;
    uint32_t error = platProcessStart(task->JOBCMD, &pid);
    if (error != 0) return recordFailedStart(task, error);

    markPidReuse(pid);
    task->jobPid = pid;
    char name[MODULE_NAME_SIZE];
    readStartedName(pid, name);
    recordStart(task, pid, name, startTime);

    int rc = saveTask(task);
    if (rc == 0) {
        writeLogf("Start PGM: %s Cmd: %s\n", task->JOBNAM, task->JOBCMD);
        return START_OK;
    }
    writeLogf("Start PGM: %s Cmd: %s Fehler Update Kvs500Job RC: %ld\n", task->JOBNAM, task->JOBCMD,
              static_cast<long>(rc));
    return START_UPDATE_FAILED;
}

static void markEnded(TaskRecord *task) {
    formatTimestamp(task->JOBEDA);
    kvsCopy(task->JOBSTS, JOB_STATUS_ENDED);
}

// The system may hand a new worker the id of a worker that ended unnoticed:
// such a task is recorded as ended, since its id now names another worker.
void markPidReuse(uint32_t pid) {
    for (int32_t i = 0; i < g_taskTable.count; i++) {
        TaskRecord *task = &g_taskTable.slots[i];
        if (task->jobPid != pid || strcmp(task->JOBSTS, JOB_STATUS_RUNNING) != 0) continue;
        markEnded(task);
        int rc = saveTask(task);
        if (rc != 0) {
            writeLogf("- Update JobStatus: %s CheckProcessID! Fehler RC: %ld\n", task->JOBNAM,
                      static_cast<long>(rc));
        }
    }
}

// 1 when the task's worker still runs its program; otherwise the task is
// logged, recorded as ended and loses its process id.
static int confirmAlive(TaskRecord *task) {
    PlatHandle process = platProcessOpen(task->jobPid);
    char name[MODULE_NAME_SIZE];
    char shownTask[sizeof task->taskName];
    kvsCopy(shownTask, task->taskName);
    int alive = 0;
    if (platHandleOpen(process)) {
        alive = runsProgram(process, task->taskName, name);
        kvsToUpper(shownTask);
        kvsToUpper(name);
    } else {
        char text[ERROR_TEXT_SIZE];
        systemErrorText(platLastError(), text);
        writeLogf("checkTask: OpenProcess fehlgeschlagen! PID: %ld %s\n",
                  static_cast<long>(task->jobPid), text);
        kvsCopy(name, UNKNOWN_NAME);
    }
    if (!alive) {
        writeLogf("Info checkTask: Taskname: %s Prozessname: %s\n", shownTask, name);
        markEnded(task);
        int rc = saveTask(task);
        if (rc != 0) {
            writeLogf("Update Kvs500Job Fkt. checkTask: %s Fehler RC: %ld\n", task->JOBNAM,
                      static_cast<long>(rc));
        }
        task->jobPid = 0;
        // The connection still held to the gone worker's pipe would only
        // fail the first hand-off to its successor (and on Windows keep the
        // old pipe's name from the successor).
        closeTaskPipe(task);
    }
    if (platHandleOpen(process)) platCloseHandle(process);
    return alive;
}

void checkTask(TaskRecord *task) {
    if (task->jobPid != 0 && confirmAlive(task)) return;
    if (startTask(task) == START_UPDATE_FAILED) reconnectDatabase();
}

// Ends the worker with the outside "kill" program, but only while the id
// still belongs to the task's program: an id taken over by another process
// is left alone.
static void killWorker(TaskRecord *task) {
    PlatHandle process = platProcessOpen(task->jobPid);
    if (!platHandleOpen(process)) return;
    char name[MODULE_NAME_SIZE];
    kvsTrimRight(task->taskName);
    if (runsProgram(process, task->taskName, name)) {
        char command[KILL_COMMAND_SIZE];
        kvsFormat(command, sizeof command, "kill %d", static_cast<int>(task->jobPid));
        uint32_t killPid = 0;
        platProcessStart(command, &killPid);
    }
    platCloseHandle(process);
}

void stopTask(TaskRecord *task) {
    if (task->jobPid != 0) killWorker(task);
    markEnded(task);
    int rc = saveTask(task);
    if (rc != 0) {
        writeLogf("Update Kvs500Job Fkt. stopTask: %s Fehler RC: %ld\n", task->JOBNAM,
                  static_cast<long>(rc));
    }
}

void startAllTasks() {
    for (;;) {
        TaskRecord record;
        clearTaskRecord(&record);
        int rc = SQLSelectKvs500JobDEV(&record);
        if (rc == g_dbNoData) return;
        if (rc != 0) {
            const char *sqlState = "";
            const char *sqlMsg = "";
            int32_t sqlCode = DbLastError(&sqlState, &sqlMsg);
            writeLogf(
                "SQLSelectKvs500JobDEV! Fehler SQLCode: %ld\n-   SQLState: %s\n-   SQLMsg: %s\n",
                static_cast<long>(sqlCode), sqlState, sqlMsg);
            reconnectDatabase();
            return;
        }
        // A worker that no slot could track would run unsupervised: with
        // the table full no further job is started.
        if (g_taskTable.count >= TASK_TABLE_SLOTS) {
            writeLogf("Tasktabelle voll! Job %s wird nicht gestartet!\n", record.JOBKE2);
            return;
        }
        if (startTask(&record) == START_UPDATE_FAILED) reconnectDatabase();
        appendTask(&record);
    }
}

void checkAllTasks() {
    for (int32_t i = 0; i < g_taskTable.count; i++) checkTask(&g_taskTable.slots[i]);
}

void stopAllTasks() {
    for (int32_t i = 0; i < g_taskTable.count; i++) stopTask(&g_taskTable.slots[i]);
}

void TaskInfo() {
    for (int32_t i = 0; i < g_taskTable.count; i++) {
        const TaskRecord *task = &g_taskTable.slots[i];
        writeLogf(
            "TaskInfo: \n- JobCmd: %s\n- JobPid: %d\n- JobNam: %s\n- JobSda: %s\n"
            "- JobSts: %s\n- JobStv: %ld\n",
            task->JOBCMD, static_cast<int>(task->jobPid), task->taskName, task->JOBSDA,
            task->JOBSTS, static_cast<long>(task->JOBSTV));
    }
}
