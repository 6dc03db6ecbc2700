// The service under faults, with real processes throughout: a private
// MariaDB, the service program and its substitute workers, TCP clients.
//
// The cases share one installation and run in the order written here, each
// on the state the one before left: service starts are few on purpose (every
// normal stop costs the five-second shutdown pause). Tenants: FAA with normal
// workers, FCR whose partition worker FCR#ALLE crashes on every number.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "tests/faults/probe.h"
#include "tests/support/mariadb.h"
#include "tests/support/service_run.h"
#include "tests/support/tcp_client.h"

namespace {

const int START_WAIT_MS = 60000;
const int END_WAIT_MS = 20000;
const char CRASH_KEY[] = "FCR#ALLE";
const long RSS_MARGIN_KB = 512;  // allocator and stdio noise, not a leak per client

PrivateMariaDb *g_db = nullptr;
std::string request(const std::string &schema, const std::string &user, int number);
int sendOnceListening(const std::string &text);
ServiceEnv *g_env = nullptr;
ServiceProcess *g_service = nullptr;    // the first run, with the crashing worker
ServiceProcess *g_restarted = nullptr;  // the run after the first one was killed
int g_number = 1000;                    // parameter numbers, unique per request

class FaultEnvironment : public ::testing::Environment {
   public:
    void SetUp() override {
        g_db = new PrivateMariaDb();
        ASSERT_TRUE(g_db->start());
        ASSERT_TRUE(g_db->addTenant("FAA", 10));
        ASSERT_TRUE(g_db->addTenant("FCR", 10));
        g_env = new ServiceEnv();
        ASSERT_TRUE(g_db->writeCredentials(g_env->credentialsPath()));
        // The test looks into the same namespace of events as the service.
        ASSERT_EQ(setenv("KVS_IPC_DIR", g_env->ipcDir.c_str(), 1), 0);
        g_service = new ServiceProcess();
        // Under AddressSanitizer freed blocks wait in a quarantine, which
        // would show as growth in the memory check; elsewhere it is ignored.
        const char *asan = getenv("ASAN_OPTIONS");
        std::string asanOptions =
            std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":quarantine_size_mb=0";
        ASSERT_TRUE(
            g_service->start(*g_env, {"KVS_WORKER_CRASH_AFTER=1",
                                      std::string("KVS_WORKER_ONLY=") + CRASH_KEY, asanOptions}));
        // Requests queued while the workers are being started are all
        // answered, the one for the worker started last too.
        std::vector<int> queued;
        for (const char *user : {"ALLE", "KORR"})
            for (const char *schema : {"FAA", "FCR"}) {
                if (std::string(schema) + "#" + user == CRASH_KEY) continue;
                queued.push_back(sendOnceListening(request(schema, user, 4700 + queued.size())));
            }
        ASSERT_TRUE(g_service->waitForOutput("Server listening", START_WAIT_MS))
            << g_service->output();
        for (size_t i = 0; i < queued.size(); i++) {
            ASSERT_GE(queued[i], 0);
            EXPECT_EQ(tcpReadToEnd(queued[i], START_WAIT_MS),
                      replyBlock("OK:" + std::to_string(4700 + i) + " END"))
                << "queued request " << i;
            close(queued[i]);
        }
    }
    void TearDown() override {
        if (g_restarted != nullptr) g_restarted->stop();
        delete g_restarted;
        delete g_service;  // killed by now, or swept with its process group
        delete g_env;
        delete g_db;
    }
};

// Connects as soon as the listener takes connections, which is before the
// workers are started, and sends the request; the socket, or -1.
int sendOnceListening(const std::string &text) {
    for (int waited = 0; waited < START_WAIT_MS; waited++) {
        int s = tcpConnectLoopback(g_env->port);
        if (s >= 0) {
            if (send(s, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) return s;
            close(s);
            return -1;
        }
        usleep(1000);
    }
    return -1;
}

const ::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new FaultEnvironment);

std::string request(const std::string &schema, const std::string &user, int number) {
    return "SCHEMA:" + schema + " USER:" + user + " PARM:" + std::to_string(number) + " END";
}

// Sends a fresh number to schema#user; true when it came back answered.
bool answered(const std::string &schema, const std::string &user) {
    int number = ++g_number;
    return converse(g_env->port, request(schema, user, number)) ==
           replyBlock("OK:" + std::to_string(number) + " END");
}

struct JobRow {
    std::string status;
    int attempts = -1;
    int pid = 0;
};

JobRow jobRow(const std::string &key) {
    std::string sql =
        "SELECT JOBSTS, JOBSTV, COALESCE(NULLIF(JOBNUM, ''), '0') FROM KVSYSTEM.KVS500JOB "
        "WHERE JOBUSR = '" +
        key + "'";
    std::istringstream in(g_db->query(sql));
    JobRow row;
    in >> row.status >> row.attempts >> row.pid;
    return row;
}

// The live worker with this key below the service, 0 when there is none.
int workerOf(const ServiceProcess &service, const std::string &key) {
    std::vector<int> pids = childProcesses(service.pid(), key);
    return pids.size() == 1 ? pids[0] : 0;
}

// A started worker is reachable once it has created its event (its pipe
// follows at once); a request sent before that fails at the event.
bool workerReady(const std::string &key) {
    return waitUntil(
        [&key] {
            PlatHandle event = platEventOpen(key.c_str());
            if (!platHandleOpen(event)) return false;
            platCloseHandle(event);
            return true;
        },
        START_WAIT_MS);
}

// A worker that has just been started again is reached by the request sent
// at once: the service gives it the time to create its pipe and its event.
bool restartedWorkerAnswers(const std::string &schema, const std::string &user) {
    return answered(schema, user);
}

void killWorker(int pid) {
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitUntil([pid] { return processEnded(pid); }, END_WAIT_MS));
}

// Garbage of the kinds a port on a network meets, in turn.
std::string garbage(int i, std::mt19937 &random) {
    switch (i % 6) {
        case 0: {
            // Ten bytes at least: fewer keep the receive waiting for its limit.
            std::string bytes(10 + random() % 503, '\0');
            for (char &c : bytes) c = static_cast<char>(random());
            return bytes;
        }
        case 1:  // 600 bytes: more than one receive takes
            return "SCHEMA:FAA USER:ALLE PARM:" + std::string(570, '7') + " END";
        case 2:
            return "SCHEMA:FAA USER:ALLE PARM:12";  // no " END"
        case 3: {
            static const char withNul[] = "SCHEMA:FAA\0 USER:ALLE PARM:5 END\0\0\0";
            return std::string(withNul, sizeof withNul - 1);
        }
        case 4:
            return "";  // connect and close at once, see below
        default:
            return "schema:FAA user:ALLE parm:1 end";
    }
}

// One client of the garbage run; true when it got no reply.
bool sendGarbage(int i, std::mt19937 &random) {
    std::string bytes = garbage(i, random);
    if (bytes.empty()) return connectAndClose(g_env->port);
    std::string reply = converse(g_env->port, bytes);
    return reply.empty() || reply == "<not sent>";  // a reset may meet the overlong one
}

// The open descriptors of a process, each as "number -> target".
std::vector<std::string> openDescriptors(int pid) {
    std::vector<std::string> found;
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        std::error_code unread;
        std::filesystem::path target = std::filesystem::read_symlink(entries->path(), unread);
        found.push_back(entries->path().filename().string() + " -> " + target.string());
    }
    if (error) found.assign(1, "<unreadable: " + error.message() + ">");
    return found;
}

// The service's descriptors once it is back waiting for a client: a client
// sees its connection closed while the service may still be finishing that
// request, so a listing counts only when two taken 50 ms apart agree.
std::vector<std::string> idleDescriptors(int pid) {
    std::vector<std::string> last = openDescriptors(pid);
    for (int tries = 0; tries < 100; tries++) {
        usleep(50 * 1000);
        std::vector<std::string> now = openDescriptors(pid);
        if (now == last) break;
        last = now;
    }
    return last;
}

std::string listing(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += "\n  " + line;
    return text;
}

class Faults : public ::testing::Test {
   protected:
    void SetUp() override {
        ASSERT_NE(g_service, nullptr);
        if (g_restarted == nullptr) {
            ASSERT_TRUE(g_service->running()) << g_service->output();
        }
    }
};

TEST_F(Faults, GarbageFromThousandClientsLeavesTheServiceServingAndItsMemoryFlat) {
    ASSERT_TRUE(answered("FAA", "ALLE"));
    std::mt19937 random(4711);
    // A first round of the same size lets buffers, caches and (under
    // AddressSanitizer) the allocator's regions reach their working size;
    // only the second round must leave the memory flat.
    for (int i = 0; i < 1000; i++) ASSERT_TRUE(sendGarbage(i, random)) << "warm-up client " << i;
    long before = residentKb(g_service->pid());
    ASSERT_GT(before, 0);
    std::vector<std::string> descriptorsBefore = idleDescriptors(g_service->pid());

    for (int i = 0; i < 1000; i++) ASSERT_TRUE(sendGarbage(i, random)) << "client " << i;
    // Each silent client costs the receive limit of two seconds: a few only.
    for (int i = 0; i < 3; i++) EXPECT_TRUE(connectAndStaySilent(g_env->port));

    EXPECT_TRUE(answered("FAA", "ALLE"));
    EXPECT_TRUE(g_service->running());
    EXPECT_LE(residentKb(g_service->pid()), before + RSS_MARGIN_KB) << "before: " << before;
    // Every client's socket was closed again, on every path of the garbage.
    std::vector<std::string> descriptorsAfter = idleDescriptors(g_service->pid());
    EXPECT_EQ(descriptorsAfter.size(), descriptorsBefore.size())
        << "before:" << listing(descriptorsBefore) << "\nafter:" << listing(descriptorsAfter);
    EXPECT_NE(g_env->log().find("Parameter k\xF6nnen nicht verarbeitet werden!\n"),
              std::string::npos);
}

TEST_F(Faults, LogDirectoryRemovedAndCreatedAgainLoggingResumes) {
    std::error_code error;
    std::filesystem::remove_all(g_env->logDir, error);
    ASSERT_FALSE(error);
    int unlogged = g_number + 1;
    EXPECT_TRUE(answered("FAA", "ALLE"));  // no log, the service goes on
    EXPECT_TRUE(g_service->running());

    ASSERT_TRUE(std::filesystem::create_directories(g_env->logDir, error));
    int logged = g_number + 1;
    EXPECT_TRUE(answered("FAA", "ALLE"));
    std::string log = g_env->log();
    EXPECT_NE(log.find("Read Kvs001Prm: PrmKey: " + std::to_string(logged) + " User: FAA#ALLE!\n"),
              std::string::npos);
    EXPECT_EQ(log.find("PrmKey: " + std::to_string(unlogged) + " "), std::string::npos);
}

TEST_F(Faults, CrashingWorkerIsRestartedUntilItsAttemptsAreExhausted) {
    size_t startsBefore = countOf(g_env->log(), "USER:" + std::string(CRASH_KEY) + "\n");
    ASSERT_EQ(jobRow(CRASH_KEY).attempts, 1);
    // Attempts 1 to 11: each number ends the worker, the failed hand-off's
    // check finds it gone, marks the row and starts the next one, until the
    // eleventh worker's end leaves the task down.
    for (int attempt = 1; attempt <= 11; attempt++) {
        ASSERT_TRUE(workerReady(CRASH_KEY)) << "attempt " << attempt;
        EXPECT_TRUE(converse(g_env->port, request("FCR", "ALLE", ++g_number)).empty());
        JobRow row = jobRow(CRASH_KEY);
        EXPECT_EQ(row.attempts, attempt < 11 ? attempt + 1 : 11) << "attempt " << attempt;
        EXPECT_EQ(row.status, attempt < 11 ? "01" : "98") << "attempt " << attempt;
        EXPECT_TRUE(answered("FAA", "ALLE")) << "other keys are served meanwhile";
    }
    // Down for good: no event to open, and a further request starts nothing.
    EXPECT_FALSE(platHandleOpen(platEventOpen(CRASH_KEY)));
    EXPECT_TRUE(converse(g_env->port, request("FCR", "ALLE", ++g_number)).empty());
    JobRow row = jobRow(CRASH_KEY);
    EXPECT_EQ(row.status, "98");
    EXPECT_EQ(row.attempts, 11);
    EXPECT_EQ(workerOf(*g_service, CRASH_KEY), 0);

    std::string log = g_env->log();
    // One start at start-up before this case, ten restarts in it.
    EXPECT_EQ(countOf(log, "USER:" + std::string(CRASH_KEY) + "\n") - startsBefore, 10u);
    EXPECT_EQ(countOf(log, "Info checkTask: Taskname: dev_mysql.exe Prozessname: unknown\n"), 11u);
    EXPECT_TRUE(answered("FCR", "KORR"));
}

// Every "01" row names the live worker of its key.
bool rowsNameLiveWorkers() {
    for (const char *key : {"FAA#ALLE", "FAA#KORR", "FCR#ALLE", "FCR#KORR"}) {
        JobRow row = jobRow(key);
        if (row.status == "01" && (row.pid == 0 || row.pid != workerOf(*g_service, key)))
            return false;
    }
    return true;
}

TEST_F(Faults, DatabaseOutageServiceGoesOnAndItsRowsConvergeAfterwards) {
    ASSERT_EQ(jobRow("FAA#KORR").attempts, 1);
    ASSERT_EQ(jobRow("FCR#KORR").attempts, 1);
    // The service now holds a connection to these workers' pipes.
    ASSERT_TRUE(answered("FAA", "KORR"));
    ASSERT_TRUE(answered("FCR", "KORR"));
    ASSERT_TRUE(g_db->stopServer());
    EXPECT_TRUE(answered("FAA", "ALLE"));

    // Workers end while the database is down: the check marks each gone and
    // starts a new one; both row updates fail, the second one (88) makes the
    // service reconnect, which fails too.
    killWorker(workerOf(*g_service, "FAA#KORR"));
    EXPECT_TRUE(converse(g_env->port, request("FAA", "KORR", ++g_number)).empty());
    EXPECT_TRUE(g_service->running());
    std::string log = g_env->log();
    EXPECT_NE(log.find("Update Kvs500Job Fkt. checkTask: dev_mysql.exe Fehler RC:"),
              std::string::npos);
    EXPECT_NE(log.find("Fehler Update Kvs500Job RC:"), std::string::npos);
    EXPECT_NE(log.find("- Datenbankverbindung herstellen fehlgeschlagen! RC:"), std::string::npos);
    EXPECT_TRUE(restartedWorkerAnswers("FAA", "KORR")) << "the worker started without its row";
    killWorker(workerOf(*g_service, "FCR#KORR"));
    EXPECT_TRUE(converse(g_env->port, request("FCR", "KORR", ++g_number)).empty());
    EXPECT_TRUE(restartedWorkerAnswers("FCR", "KORR"));

    // Back up: with no request and no further failure the service writes
    // the rows it could not write, the newest state of each.
    ASSERT_TRUE(g_db->startServer());
    int64_t back = platMonotonicMs();
    EXPECT_TRUE(waitUntil(rowsNameLiveWorkers, 15000));
    RecordProperty("rows_converged_ms", std::to_string(platMonotonicMs() - back));
    log = g_env->log();
    EXPECT_NE(log.find("- Datenbankverbindung herstellen erfolgreich!\n"), std::string::npos);
    EXPECT_NE(log.find("Update Kvs500Job nachgeholt: FAA#KORR JobSts: 01 JobNum: " +
                       std::to_string(workerOf(*g_service, "FAA#KORR")) + "\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(jobRow("FAA#KORR").attempts, 2);
    EXPECT_EQ(jobRow("FCR#KORR").attempts, 2);

    // The connection serves again: a further restart is written at once.
    killWorker(workerOf(*g_service, "FAA#KORR"));
    EXPECT_TRUE(converse(g_env->port, request("FAA", "KORR", ++g_number)).empty());
    EXPECT_TRUE(restartedWorkerAnswers("FAA", "KORR"));
    JobRow row = jobRow("FAA#KORR");
    EXPECT_EQ(row.status, "01");
    EXPECT_EQ(row.attempts, 3);  // the first start and two restarts
    EXPECT_EQ(row.pid, workerOf(*g_service, "FAA#KORR"));
}

TEST_F(Faults, KilledServiceLeavesNothingThatBlocksTheNextOne) {
    std::vector<int> oldWorkers = childProcesses(g_service->pid());
    ASSERT_GE(oldWorkers.size(), 3u);  // FAA#ALLE, FAA#KORR, FCR#KORR
    ASSERT_EQ(kill(g_service->pid(), SIGKILL), 0);
    ASSERT_GE(g_service->waitExit(END_WAIT_MS), 0);
    // The workers end with the service that started them.
    for (int pid : oldWorkers)
        EXPECT_TRUE(waitUntil([pid] { return processEnded(pid); }, END_WAIT_MS)) << pid;

    g_restarted = new ServiceProcess();
    ASSERT_TRUE(g_restarted->start(*g_env));
    ASSERT_TRUE(g_restarted->waitForOutput("Server listening", START_WAIT_MS))
        << g_restarted->output();
    // The killed run's rows were removed and made anew: one fresh row per job.
    std::string rows =
        g_db->query("SELECT JOBUSR, JOBSTS, JOBSTV FROM KVSYSTEM.KVS500JOB ORDER BY JOBUSR");
    EXPECT_EQ(rows, "FAA#ALLE\t01\t1\nFAA#KORR\t01\t1\nFCR#ALLE\t01\t1\nFCR#KORR\t01\t1\n");
    for (const char *key : {"FAA#ALLE", "FAA#KORR", "FCR#ALLE", "FCR#KORR"}) {
        int pid = workerOf(*g_restarted, key);
        EXPECT_NE(pid, 0) << key;
        EXPECT_EQ(jobRow(key).pid, pid) << key;
        EXPECT_TRUE(workerReady(key)) << key;
    }
    EXPECT_TRUE(answered("FAA", "ALLE"));
    EXPECT_TRUE(answered("FAA", "KORR"));
    EXPECT_TRUE(answered("FCR", "ALLE"));
    EXPECT_TRUE(answered("FCR", "KORR"));

    // The control pipe is the new run's: a normal stop goes through, and
    // takes its workers with it.
    std::vector<int> newWorkers = childProcesses(g_restarted->pid());
    ASSERT_TRUE(g_restarted->stop());
    EXPECT_NE(g_env->log().rfind("** Programm KVSTGBSTR wurde beendet **\n"), std::string::npos);
    for (int pid : newWorkers)
        EXPECT_TRUE(waitUntil([pid] { return processEnded(pid); }, END_WAIT_MS)) << pid;
}

}  // namespace
