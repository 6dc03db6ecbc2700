#include "tests/tasks/fixture.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "db/jobs.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "tests/support/tempdir.h"

namespace {

PrivateMariaDb *g_db = nullptr;
TempDir *g_root = nullptr;

class TasksEnvironment : public ::testing::Environment {
   public:
    void SetUp() override {
        g_root = new TempDir;
        g_root->makeDir("work");
        g_root->makeDir("korvantis_php/log");
        setenv("KVS_IPC_DIR", g_root->makeDir("ipc").c_str(), 1);
        const char *bin = getenv("KVS_BIN_DIR");
        const char *path = getenv("PATH");
        std::string searchPath = std::string(bin != nullptr ? bin : ".") + ":" +
                                 (path != nullptr ? path : "/usr/bin:/bin");
        setenv("PATH", searchPath.c_str(), 1);
        ASSERT_EQ(0, chdir(g_root->file("work").c_str()));
        g_db = new PrivateMariaDb;
        ASSERT_TRUE(g_db->start());
        ASSERT_EQ(0, g_db->connect());
    }
    void TearDown() override {
        delete g_db;
        if (chdir("/") != 0) perror("chdir");
        delete g_root;
    }
};

::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new TasksEnvironment);

std::string sqlQuoted(const std::string &text) {
    return "'" + text + "'";
}

}  // namespace

PrivateMariaDb &testDb() {
    return *g_db;
}

std::string logText() {
    return readFile(LOG_FILE_PATH);
}

std::string jobRow(const std::string &ke2, const std::string &columns) {
    std::string rows = g_db->query("SELECT " + columns +
                                   " FROM KVSYSTEM.KVS500JOB WHERE JOBKE2 = " + sqlQuoted(ke2));
    if (!rows.empty() && rows.back() == '\n') rows.pop_back();
    return rows;
}

bool insertJob(const std::string &ke2, const std::string &cmd, const std::string &name,
               int attempts, const std::string &type) {
    std::string user = ke2.substr(ke2.find(':') + 1);
    return g_db->exec(
        "INSERT INTO KVSYSTEM.KVS500JOB (JOBDA1, JOBKE2, JOBURV, JOBCMD, JOBRTY, "
        "JOBNAM, JOBUSR, JOBMRT, JOBSTV) VALUES ('20000101000000', " +
        sqlQuoted(ke2) + ", " + sqlQuoted(user) + ", " + sqlQuoted(cmd) + ", " + sqlQuoted(type) +
        ", " + sqlQuoted(name) + ", " + sqlQuoted(user) + ", 0, " + std::to_string(attempts) + ")");
}

bool selectStartable(TaskRecord *record) {
    clearTaskRecord(record);
    return SQLSelectKvs500JobDEV(record) == 0;
}

static bool processEnded(uint32_t pid) {
    if (kill(static_cast<pid_t>(pid), 0) != 0) return true;
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || (close + 2 < stat.size() && stat[close + 2] == 'Z');
}

bool waitProcessEnded(uint32_t pid) {
    for (int64_t start = platMonotonicMs(); platMonotonicMs() - start < 10000;) {
        platProcessAlive(pid);  // lets the platform reap its own children
        if (processEnded(pid)) return true;
        platSleepMs(20);
    }
    return false;
}

// Tenant schemas of earlier tests go, so head counts start from nothing.
static void dropTenantSchemas() {
    std::istringstream names(g_db->query(
        "SELECT schema_name FROM information_schema.schemata WHERE schema_name NOT IN "
        "('mysql', 'information_schema', 'performance_schema', 'sys', 'kvsystem', 'test')"));
    std::string name;
    while (std::getline(names, name)) g_db->exec("DROP DATABASE `" + name + "`");
}

void TasksDbTest::SetUp() {
    ASSERT_TRUE(g_db->exec("DELETE FROM KVSYSTEM.KVS500JOB; DELETE FROM KvSystem.Kvs112Mnd"));
    dropTenantSchemas();
    g_taskTable.count = 0;
    remove(LOG_FILE_PATH);
}

void TasksDbTest::TearDown() {
    for (int32_t i = 0; i < g_taskTable.count; i++) {
        uint32_t pid = g_taskTable.slots[i].jobPid;
        if (pid == 0 || !platProcessAlive(pid)) continue;
        kill(static_cast<pid_t>(pid), SIGKILL);
        waitProcessEnded(pid);
    }
    g_taskTable.count = 0;
}
