// The service as a real process with real workers: start-up records every
// worker, a worker killed meanwhile is restarted by the shutdown's check, and
// the stop ends every worker and records it.
#include <signal.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/service_run.h"
#include "tests/tasks/fixture.h"

namespace {

using ServiceWorkersTest = TasksDbTest;

struct JobLine {
    std::string key, status, pid, name, startLength, endLength, attempts;
};

std::vector<JobLine> jobLines() {
    std::istringstream rows(testDb().query(
        "SELECT JOBKE2, JOBSTS, JOBNUM, JOBNAM, LENGTH(JOBSDA), LENGTH(COALESCE(JOBEDA, '')), "
        "JOBSTV FROM KVSYSTEM.KVS500JOB ORDER BY JOBKE2"));
    std::vector<JobLine> lines;
    std::string row;
    while (std::getline(rows, row)) {
        std::istringstream fields(row);
        JobLine line;
        for (std::string *field : {&line.key, &line.status, &line.pid, &line.name,
                                   &line.startLength, &line.endLength, &line.attempts}) {
            std::getline(fields, *field, '\t');
        }
        lines.push_back(line);
    }
    return lines;
}

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

TEST_F(ServiceWorkersTest, WorkersAreRecordedRestartedAndStopped) {
    ServiceEnv env;
    ASSERT_TRUE(testDb().addTenant("E2E_BIG", 2500, "A1", "07"));
    ASSERT_TRUE(testDb().addTenant("E2E_SMALL", 10, "B1", "02"));
    ASSERT_TRUE(testDb().writeCredentials(env.credentialsPath()));
    ServiceProcess service;
    ASSERT_TRUE(service.start(env));
    ASSERT_TRUE(service.waitForOutput("Server listening on Port", 30000)) << service.output();

    std::vector<JobLine> started = jobLines();
    ASSERT_EQ(6u, started.size());
    const char *keys[] = {"DEV:E2E_BIG#ALLE", "DEV:E2E_BIG#ALLE2",  "DEV:E2E_BIG#ALLE3",
                          "DEV:E2E_BIG#KORR", "DEV:E2E_SMALL#ALLE", "DEV:E2E_SMALL#KORR"};
    std::set<uint32_t> workers;
    for (size_t i = 0; i < started.size(); i++) {
        const JobLine &job = started[i];
        EXPECT_EQ(keys[i], job.key);
        EXPECT_EQ("01", job.status) << job.key;
        EXPECT_EQ("dev_mysql.exe", job.name) << job.key;
        EXPECT_EQ("14", job.startLength) << job.key;
        EXPECT_EQ("0", job.endLength) << job.key;
        EXPECT_EQ("1", job.attempts) << job.key;
        uint32_t pid = static_cast<uint32_t>(std::stoul(job.pid));
        EXPECT_TRUE(platProcessAlive(pid)) << job.key;
        workers.insert(pid);
    }
    EXPECT_EQ(6u, count(env.log(), "  TaskInfo: \n- JobCmd: DEV_MYSQL.EXE ../files/"));

    // A worker that dies while the service runs is found gone at shutdown
    // and started again before everything is stopped.
    uint32_t killed = static_cast<uint32_t>(std::stoul(started[5].pid));
    kill(static_cast<pid_t>(killed), SIGKILL);
    ASSERT_TRUE(service.stop(30000));

    std::vector<JobLine> stopped = jobLines();
    ASSERT_EQ(6u, stopped.size());
    for (const JobLine &job : stopped) {
        EXPECT_EQ("98", job.status) << job.key;
        EXPECT_EQ("14", job.endLength) << job.key;
    }
    const JobLine &restarted = stopped[5];
    EXPECT_EQ("2", restarted.attempts);
    EXPECT_NE(std::to_string(killed), restarted.pid);
    workers.insert(static_cast<uint32_t>(std::stoul(restarted.pid)));
    for (uint32_t pid : workers) EXPECT_TRUE(waitProcessEnded(pid)) << pid;

    std::string log = env.log();
    EXPECT_NE(
        std::string::npos,
        log.find("  checkTask: OpenProcess fehlgeschlagen! PID: " + std::to_string(killed) + " "));
    EXPECT_NE(std::string::npos,
              log.find("  Info checkTask: Taskname: dev_mysql.exe Prozessname: unknown\n"));
    EXPECT_EQ(7u, count(log, "  Start PGM: dev_mysql.exe Cmd: DEV_MYSQL.EXE "));
}

}  // namespace
