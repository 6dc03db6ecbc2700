// Worker control with real worker processes and the real job table.
#include "platform/process.h"

#include <signal.h>
#include <spawn.h>

#include <string>

#include "common/text.h"
#include "db/db.h"
#include "db/jobs.h"
#include "platform/clock.h"
#include "tasks/persist.h"
#include "tasks/process.h"
#include "tests/tasks/fixture.h"

namespace {

const char WORKER_CMD[] = "DEV_MYSQL.EXE ../files/A107.ini USER:S#ALLE";

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

// Puts the next startable job into a slot of the task table (which the
// fixture sweeps) and returns the slot.
TaskRecord *takeJob() {
    TaskRecord record;
    if (!selectStartable(&record) || !appendTask(&record)) return nullptr;
    return &g_taskTable.slots[g_taskTable.count - 1];
}

pid_t startSleep() {
    pid_t pid = -1;
    char program[] = "sleep";
    char seconds[] = "30";
    char *argv[] = {program, seconds, nullptr};
    posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ);
    return pid;
}

using ProcessTest = TasksDbTest;

TEST_F(ProcessTest, CheckTaskStartsAnUnstartedTaskAndKeepsALiveWorker) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    TaskRecord *task = takeJob();
    ASSERT_NE(nullptr, task);

    checkTask(task);
    ASSERT_NE(0u, task->jobPid);
    EXPECT_TRUE(platProcessAlive(task->jobPid));
    std::string pid = std::to_string(task->jobPid);
    EXPECT_EQ("01\tdev_mysql.exe\t" + pid + "\t1\t14\t",
              jobRow("DEV:S#ALLE", "JOBSTS, JOBNAM, JOBNUM, JOBSTV, LENGTH(JOBSDA), JOBEDA"));
    EXPECT_STREQ("dev_mysql.exe", task->taskName);
    std::string log = logText();
    EXPECT_NE(std::string::npos,
              log.find("  Start PGM: dev_mysql.exe Cmd: " + std::string(WORKER_CMD) + "\n"));
    EXPECT_EQ(std::string::npos, log.find("Info checkTask"));

    // Names are compared without regard to letter case: still the same worker.
    kvsCopy(task->taskName, "DEV_MySQL.EXE");
    uint32_t before = task->jobPid;
    checkTask(task);
    EXPECT_EQ(before, task->jobPid);
    EXPECT_EQ(log, logText());
}

TEST_F(ProcessTest, IdOfAnotherProgramCountsAsGoneAndTheTaskIsRestarted) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    TaskRecord *task = takeJob();
    ASSERT_NE(nullptr, task);
    ASSERT_EQ(START_OK, startTask(task));
    uint32_t worker = task->jobPid;
    kill(static_cast<pid_t>(worker), SIGKILL);  // frees the key for the replacement
    ASSERT_TRUE(waitProcessEnded(worker));

    pid_t sleeper = startSleep();
    ASSERT_GT(sleeper, 0);
    task->jobPid = static_cast<uint32_t>(sleeper);
    checkTask(task);
    EXPECT_NE(std::string::npos,
              logText().find("  Info checkTask: Taskname: DEV_MYSQL.EXE Prozessname: SLEEP\n"));
    EXPECT_NE(0u, task->jobPid);
    EXPECT_NE(static_cast<uint32_t>(sleeper), task->jobPid);
    EXPECT_EQ("01\t2\t" + std::to_string(task->jobPid),
              jobRow("DEV:S#ALLE", "JOBSTS, JOBSTV, JOBNUM"));
    EXPECT_TRUE(platProcessAlive(static_cast<uint32_t>(sleeper))) << "only checked, never killed";
    EXPECT_TRUE(platProcessAlive(task->jobPid));
    kill(sleeper, SIGKILL);
    waitProcessEnded(static_cast<uint32_t>(sleeper));
}

TEST_F(ProcessTest, StopTaskKillsTheWorkerAndRecordsTheEnd) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    TaskRecord *task = takeJob();
    ASSERT_NE(nullptr, task);
    ASSERT_EQ(START_OK, startTask(task));
    uint32_t pid = task->jobPid;
    kvsCopy(task->taskName, "dev_mysql.exe \t\n");  // trailing blanks do not matter here

    stopTask(task);
    EXPECT_TRUE(waitProcessEnded(pid));
    EXPECT_EQ(pid, task->jobPid);
    EXPECT_EQ("98\t" + std::to_string(pid) + "\t14",
              jobRow("DEV:S#ALLE", "JOBSTS, JOBNUM, LENGTH(JOBEDA)"));
}

// The id now belongs to another program: that program is left alone.
TEST_F(ProcessTest, StopTaskSparesAProcessRunningAnotherProgram) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    TaskRecord *task = takeJob();
    ASSERT_NE(nullptr, task);
    pid_t sleeper = startSleep();
    ASSERT_GT(sleeper, 0);
    task->jobPid = static_cast<uint32_t>(sleeper);
    kvsCopy(task->taskName, "dev_mysql.exe");

    stopTask(task);
    EXPECT_EQ("98\t14", jobRow("DEV:S#ALLE", "JOBSTS, LENGTH(JOBEDA)"));
    platSleepMs(300);  // a "kill" started by mistake would have ended it by now
    EXPECT_TRUE(platProcessAlive(static_cast<uint32_t>(sleeper)));
    kill(sleeper, SIGKILL);
    waitProcessEnded(static_cast<uint32_t>(sleeper));
}

TEST_F(ProcessTest, StopTaskWithoutProcessOnlyRecordsTheEnd) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    TaskRecord *task = takeJob();
    ASSERT_NE(nullptr, task);
    stopTask(task);
    EXPECT_EQ("98\t14", jobRow("DEV:S#ALLE", "JOBSTS, LENGTH(JOBEDA)"));
    EXPECT_EQ("", logText());
}

TEST_F(ProcessTest, MissingProgramIsRetriedUntilTheAttemptsAreUsedUp) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", "DEV_NOWHERE.EXE x.ini USER:S#ALLE", "", 3));
    startAllTasks();

    ASSERT_EQ(8, g_taskTable.count);
    for (int32_t i = 0; i < g_taskTable.count; i++) {
        EXPECT_EQ(4 + i, g_taskTable.slots[i].JOBSTV);
        EXPECT_STREQ("90", g_taskTable.slots[i].JOBSTS);
        EXPECT_EQ(0u, g_taskTable.slots[i].jobPid);
    }
    EXPECT_EQ(8u, count(logText(),
                        "  Start PGM:  Cmd: DEV_NOWHERE.EXE x.ini USER:S#ALLE "
                        "fehlgeschlagen! No such file or directory\n"));
    EXPECT_EQ("90\t11\t\t", jobRow("DEV:S#ALLE",
                                   "JOBSTS, JOBSTV, COALESCE(JOBNUM, ''), "
                                   "COALESCE(JOBSDA, '')"));

    // Attempts used up: refused, nothing written, nothing logged.
    std::string log = logText();
    TaskRecord last = g_taskTable.slots[g_taskTable.count - 1];
    kvsCopy(last.JOBCMD, WORKER_CMD);
    EXPECT_EQ(START_REFUSED, startTask(&last));
    EXPECT_EQ(11, last.JOBSTV);
    EXPECT_EQ(log, logText());
    EXPECT_EQ("90\t11", jobRow("DEV:S#ALLE", "JOBSTS, JOBSTV"));

    // Updates that failed are written again later, after a reconnect, and
    // only the newest state of the row: an older slot of it never wins.
    DbDisconnect();
    TaskRecord *firstSlot = &g_taskTable.slots[0];
    TaskRecord *lastSlot = &g_taskTable.slots[g_taskTable.count - 1];
    EXPECT_NE(0, saveTask(lastSlot));
    kvsCopy(firstSlot->JOBSTS, "98");  // a later change, in an earlier slot
    EXPECT_NE(0, saveTask(firstSlot));
    EXPECT_TRUE(tasksUnsaved());
    saveUnsavedTasks();
    EXPECT_FALSE(tasksUnsaved());
    EXPECT_EQ("98\t4", jobRow("DEV:S#ALLE", "JOBSTS, JOBSTV"));
    EXPECT_EQ(1u, count(logText(), "  Update Kvs500Job nachgeholt: S#ALLE JobSts: 98 JobNum: \n"));
    saveUnsavedTasks();
    EXPECT_EQ(1u, count(logText(), "nachgeholt"));
}

TEST_F(ProcessTest, NewWorkerWithAnIdStillHeldMarksTheOldTaskEnded) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    ASSERT_TRUE(insertJob("DEV:S#KORR", WORKER_CMD));
    TaskRecord *first = takeJob();
    ASSERT_NE(nullptr, first);
    kvsCopy(first->JOBSTS, "01");
    first->jobPid = 4242;
    TaskRecord second = *first;  // same id, but not running: left alone
    kvsCopy(second.JOBKE2, "DEV:S#KORR");
    kvsCopy(second.JOBSTS, "90");
    ASSERT_TRUE(appendTask(&second));

    markPidReuse(4242);
    EXPECT_STREQ("98", g_taskTable.slots[0].JOBSTS);
    EXPECT_EQ(4242u, g_taskTable.slots[0].jobPid);
    EXPECT_EQ("98\t14", jobRow("DEV:S#ALLE", "JOBSTS, LENGTH(JOBEDA)"));
    EXPECT_EQ("NULL", jobRow("DEV:S#KORR", "JOBSTS"));
    g_taskTable.count = 0;  // no real processes behind these ids
}

TEST_F(ProcessTest, TaskInfoDumpsEverySlot) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    TaskRecord *task = takeJob();
    ASSERT_NE(nullptr, task);
    TaskInfo();
    EXPECT_EQ("TaskInfo: \n- JobCmd: " + std::string(WORKER_CMD) +
                  "\n- JobPid: 0\n- JobNam: \n- JobSda: \n- JobSts: \n- JobStv: 0\n",
              logText().substr(21));
}

TEST_F(ProcessTest, FullTaskTableStartsNoFurtherJob) {
    ASSERT_TRUE(insertJob("DEV:S#ALLE", WORKER_CMD));
    g_taskTable.count = TASK_TABLE_SLOTS;
    for (TaskRecord &slot : g_taskTable.slots) clearTaskRecord(&slot);
    startAllTasks();
    EXPECT_EQ(TASK_TABLE_SLOTS, g_taskTable.count);
    EXPECT_EQ("Tasktabelle voll! Job DEV:S#ALLE wird nicht gestartet!\n", logText().substr(21));
    EXPECT_EQ("NULL\t0", jobRow("DEV:S#ALLE", "JOBSTS, JOBSTV"));
}

}  // namespace
