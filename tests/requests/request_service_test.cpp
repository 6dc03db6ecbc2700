// Client requests against the real service, its real workers and a private
// database: the reply block on the wire, the log lines in order, the console
// lines, and how failed hand-offs are recovered.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/handle.h"
#include "tests/support/mariadb.h"
#include "tests/support/service_run.h"
#include "tests/support/tcp_client.h"

namespace {

const int REPLY_WAIT_MS = 60000;

PrivateMariaDb *g_db = nullptr;

class DatabaseEnvironment : public ::testing::Environment {
   public:
    void SetUp() override {
        g_db = new PrivateMariaDb();
        ASSERT_TRUE(g_db->start());
    }
    void TearDown() override {
        delete g_db;
        g_db = nullptr;
    }
};

const ::testing::Environment *const g_dbEnvironment =
    ::testing::AddGlobalTestEnvironment(new DatabaseEnvironment);

std::string exchange(uint16_t port, const std::string &request) {
    return tcpExchange(port, request, REPLY_WAIT_MS);
}

// A killed process holds its pipe and event until it has really ended:
// gone, or a zombie waiting for its parent (the service) to reap it.
bool waitForEnd(int pid) {
    return waitUntil(
        [pid] {
            std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
            size_t close = stat.rfind(')');
            return stat.empty() || (close != std::string::npos && close + 2 < stat.size() &&
                                    stat[close + 2] == 'Z');
        },
        REPLY_WAIT_MS);
}

std::string binary(const char *envName, const char *name) {
    const char *dir = getenv(envName);
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

// A job row of type "06" that start-up keeps (empty JOBNAM) and starts.
bool insertJob(const std::string &ke2, const std::string &cmd, const std::string &urv,
               const std::string &usr) {
    return g_db->exec(
        "INSERT INTO KVSYSTEM.KVS500JOB (JOBDA1, JOBKE2, JOBURV, JOBCMD, JOBRTY, JOBUSR, JOBMRT, "
        "JOBSTV) VALUES ('19990101000000', '" +
        ke2 + "', '" + urv + "', '" + cmd + "', '06', '" + usr + "', 0, 0)");
}

// The log lines of one successful hand-off.
std::vector<std::string> handOff(const std::string &pipe, const std::string &digits) {
    return {"Beginn workTask! Pipename: \\\\.\\pipe\\" + pipe,
            "Pipe \\\\.\\pipe\\" + pipe + " open ok! Buffer: " + digits,
            "Message mit ParmKey an DEV gesendet: " + digits + "!", "Ende-Info vom DEV erhalten!"};
}

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---- one run: answers, malformed requests, two tasks per key, recovery ----

class Requests : public ::testing::Test {
   protected:
    static ServiceRun *run;

    static void SetUpTestSuite() {
        g_db->exec("DELETE FROM KVSYSTEM.KVS500JOB");
        g_db->exec("DELETE FROM KVSYSTEM.KVS112MND");
        ASSERT_TRUE(g_db->addTenant("ABC", 10));
        ASSERT_TRUE(g_db->addTenant("DUO", 10));
        ASSERT_TRUE(g_db->addTenant("NOE", 10));
        // DUO#ALLE gets a second task before the worker's own (slot order
        // follows JOBDA1): its twin shares the event and has its own pipe.
        // DUO#KORR gets a first task whose pipe never exists.
        ASSERT_TRUE(insertJob("TWIN:DUO#ALLE",
                              binary("KVS_TEST_BIN_DIR", "requests_twin") + " DUO#ALLE DUO#TWIN",
                              "DUO#TWIN", "DUO#ALLE"));
        ASSERT_TRUE(insertJob("SLEEP:DUO#KORR", "sleep 600", "DUO#NOPIPE", "DUO#KORR"));
        run = new ServiceRun(*g_db);
        ASSERT_TRUE(run->start({"KVS_WORKER_NO_EVENT=1", "KVS_WORKER_ONLY=NOE#ALLE"}))
            << run->service.output();
    }

    static void TearDownTestSuite() {
        run->finish();
        delete run;
        run = nullptr;
    }
};
ServiceRun *Requests::run = nullptr;

TEST_F(Requests, WorkedExampleByteForByte) {
    std::string reply;
    std::vector<std::string> log = run->request("SCHEMA:ABC USER:ALLE PARM:4711 END\r\n", &reply);
    EXPECT_EQ(replyBlock("OK:4711 END"), reply);
    std::vector<std::string> expected =
        concat({{"Read Kvs001Prm: PrmKey: 4711 User: ABC#ALLE!", "Task aktivieren: ABC#ALLE!"},
                handOff("ABC#ALLE", "4711"),
                {"Ende Nachricht Client senden!"}});
    EXPECT_EQ(expected, log);
    EXPECT_TRUE(
        run->service.waitForOutput("Client geantwortet: OK:4711 END! Bytes: 512\nClientanfrage "
                                   "beendet: Socket geschlossen! \n\n",
                                   REPLY_WAIT_MS))
        << run->service.output();
    EXPECT_NE(std::string::npos, run->service.output().find("DEV ABC#ALLE 4711\n"));
}

TEST_F(Requests, NumbersReachTheWorkerOverTheKeptConnection) {
    // The pipe has a single instance, held by the connection of the first
    // hand-off: only a hand-off that writes to that connection succeeds.
    std::string reply;
    std::vector<std::string> log = run->request("SCHEMA:ABC USER:ALLE PARM:abc END", &reply);
    EXPECT_EQ(replyBlock("OK:0 END"), reply);
    EXPECT_EQ(concat({{"Read Kvs001Prm: PrmKey: 0 User: ABC#ALLE!", "Task aktivieren: ABC#ALLE!"},
                      handOff("ABC#ALLE", "0"),
                      {"Ende Nachricht Client senden!"}}),
              log);

    run->request("SCHEMA:ABC USER:ALLE PARM:-5 END", &reply);
    EXPECT_EQ(replyBlock("OK:-5 END"), reply);
    EXPECT_TRUE(run->service.waitForOutput("DEV ABC#ALLE -5\n", REPLY_WAIT_MS));
}

TEST_F(Requests, MalformedRequestsAreClosedWithoutReply) {
    const char *requests[] = {"schema:ABC user:ALLE parm:1 end", "SCHEMA:ABC PARM:1 END\n",
                              "SCHEMA:ABCDEFGHIJKLMNOPQRSTU USER:ALLE PARM:1 END",
                              "SCHEMA:ABC PARM:1 USER:ALLE END"};
    for (const char *text : requests) {
        SCOPED_TRACE(text);
        std::string reply;
        std::vector<std::string> log = run->request(text, &reply);
        EXPECT_EQ("", reply);
        EXPECT_EQ(std::vector<std::string>{"Parameter k\xF6nnen nicht verarbeitet werden!"}, log);
    }
}

TEST_F(Requests, KeyWithoutTaskIsClosedWithoutReply) {
    std::string reply;
    std::vector<std::string> log = run->request("SCHEMA:ABC  USER:ALLE PARM:1 END", &reply);
    EXPECT_EQ("", reply);
    EXPECT_EQ(std::vector<std::string>{"Read Kvs001Prm: PrmKey: 1 User: ABC #ALLE!"}, log);

    // Client text cannot begin a line that reads like one of the service's
    // own: its control characters are written as \xNN, the rest as it is.
    log = run->request("SCHEMA:ABC USER:X\r\n2030-01-01 00:00:00  forged\x7F%s\xFC\t PARM:2 END",
                       &reply);
    EXPECT_EQ("", reply);
    EXPECT_EQ(
        std::vector<std::string>{"Read Kvs001Prm: PrmKey: 2 User: "
                                 "ABC#X\\x0D\\x0A2030-01-01 00:00:00  forged\\x7F%s\xFC\\x09!"},
        log);
}

TEST_F(Requests, TwoTasksWithOneKeyBothGetTheNumberAndTheClientOneReply) {
    size_t answered = countOf(run->service.output(), "Client geantwortet");
    size_t offset = run->env.log().size();
    std::string reply = exchange(run->env.port, "SCHEMA:DUO USER:ALLE PARM:77 END");
    EXPECT_EQ(replyBlock("OK:77 END"), reply);
    // The second hand-off runs after the reply has gone.
    ASSERT_TRUE(waitUntil([&] { return countOf(run->env.log().substr(offset), "Ende-Info") == 2; },
                          REPLY_WAIT_MS));
    EXPECT_EQ(concat({{"Read Kvs001Prm: PrmKey: 77 User: DUO#ALLE!", "Task aktivieren: DUO#ALLE!"},
                      handOff("DUO#TWIN", "77"),
                      {"Ende Nachricht Client senden!", "Task aktivieren: DUO#ALLE!"},
                      handOff("DUO#ALLE", "77")}),
              logLinesFrom(run->env.log(), offset));
    std::string output = run->service.output();
    size_t twin = output.find("TWIN DUO#TWIN 77\n");
    size_t worker = output.find("DEV DUO#ALLE 77\n");
    EXPECT_NE(std::string::npos, twin);
    EXPECT_NE(std::string::npos, worker);
    EXPECT_LT(twin, worker);
    EXPECT_EQ(answered + 1, countOf(output, "Client geantwortet"));
}

TEST_F(Requests, FirstTaskFailsAndTheSecondAnswers) {
    std::string reply;
    std::vector<std::string> log = run->request("SCHEMA:DUO USER:KORR PARM:5 END", &reply);
    EXPECT_EQ(replyBlock("OK:5 END"), reply);
    // The first task's worker ("sleep") is alive: checkTask leaves it be.
    EXPECT_EQ(concat({{"Read Kvs001Prm: PrmKey: 5 User: DUO#KORR!", "Task aktivieren: DUO#KORR!",
                       "Beginn workTask! Pipename: \\\\.\\pipe\\DUO#NOPIPE", "Fehler workTask()!",
                       "Task aktivieren: DUO#KORR!"},
                      handOff("DUO#KORR", "5"),
                      {"Ende Nachricht Client senden!"}}),
              log);
}

TEST_F(Requests, WorkerWithoutEventFailsBeforeThePipe) {
    std::string reply;
    std::vector<std::string> log = run->request("SCHEMA:NOE USER:ALLE PARM:3 END", &reply);
    EXPECT_EQ("", reply);
    EXPECT_EQ((std::vector<std::string>{"Read Kvs001Prm: PrmKey: 3 User: NOE#ALLE!",
                                        "Task aktivieren: NOE#ALLE!",
                                        "Beginn workTask! Pipename: \\\\.\\pipe\\NOE#ALLE",
                                        "OpenEvent: Fehler Event NOE#ALLE!", "Fehler workTask()!"}),
              log);
}

TEST_F(Requests, RestartedWorkerAnswersTheNextRequestAtOnce) {
    std::string reply;
    run->request("SCHEMA:ABC USER:KORR PARM:1 END", &reply);
    ASSERT_EQ(replyBlock("OK:1 END"), reply);
    std::string oldPid = run->workerPid("DEV:ABC#KORR");
    ASSERT_FALSE(oldPid.empty());
    ASSERT_EQ(0, kill(atoi(oldPid.c_str()), SIGKILL));
    ASSERT_TRUE(waitForEnd(atoi(oldPid.c_str())));

    // The dead worker's event is gone: the hand-off fails at once, and
    // checkTask starts a new worker and drops the connection to the old pipe.
    std::vector<std::string> log = run->request("SCHEMA:ABC USER:KORR PARM:2 END", &reply);
    EXPECT_EQ("", reply);
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ("OpenEvent: Fehler Event ABC#KORR!", log[3]);
    EXPECT_EQ("Fehler workTask()!", log[4]);
    std::string newPid = run->workerPid("DEV:ABC#KORR");
    EXPECT_NE(oldPid, newPid);

    // Sent at once, while the new worker may still be creating its pipe and
    // event: it is given the time and answers.
    run->request("SCHEMA:ABC USER:KORR PARM:3 END", &reply);
    EXPECT_EQ(replyBlock("OK:3 END"), reply);
    EXPECT_EQ(newPid, run->workerPid("DEV:ABC#KORR"));
}

TEST_F(Requests, SilentClientIsDroppedAndTheServiceGoesOn) {
    EXPECT_EQ("", exchange(run->env.port, ""));
    EXPECT_TRUE(run->service.waitForOutput("Zeitueberschreitung der Anforderung (Error: 0)",
                                           REPLY_WAIT_MS));
    std::string reply;
    run->request("SCHEMA:ABC USER:ALLE PARM:8 END", &reply);
    EXPECT_EQ(replyBlock("OK:8 END"), reply);

    // Silent connections held open ahead of a request do not keep it out,
    // also once they have waited long enough to be taken.
    size_t dropped = countOf(run->service.output(), "Zeitueberschreitung");
    std::vector<int> silent;
    for (int i = 0; i < 8; i++) silent.push_back(tcpConnectLoopback(run->env.port));
    ASSERT_TRUE(
        waitUntil([&] { return countOf(run->service.output(), "Zeitueberschreitung") > dropped; },
                  REPLY_WAIT_MS));
    run->request("SCHEMA:ABC USER:ALLE PARM:9 END", &reply);
    EXPECT_EQ(replyBlock("OK:9 END"), reply);
    for (int s : silent) close(s);
}

TEST_F(Requests, KvsreqPrintsTheReplyAndTellsOutcomes) {
    std::string out;
    std::string kvsreq = binary("KVS_BIN_DIR", "kvsreq");
    std::string port = std::to_string(run->env.port);
    std::string onPort = kvsreq + " --port " + port;
    auto runTool = [&](const std::string &args, std::string *output,
                       const std::string &tool = std::string()) {
        std::string command = (tool.empty() ? onPort : tool) + " " + args + " 2>&1";
        FILE *pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return -1;
        char buffer[256];
        output->clear();
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) *output += buffer;
        int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(0, runTool("ABC ALLE 4712", &out));
    EXPECT_EQ("OK:4712 END\n", out);
    EXPECT_EQ(1, runTool("ABC NOSUCH 1", &out));
    EXPECT_EQ(2, runTool("ABC ALLE", &out));
    EXPECT_EQ(2, runTool("--port 1 ABC ALLE 1", &out));
    EXPECT_EQ(2, runTool("ABC ALLE 1", &out, kvsreq + " --port ' " + port + "'"));
    // KVS_PORT is read as the service reads it: a port with a blank before it
    // is refused, in the service's words, and the default port is used (with
    // a key no service has, so whatever answers there is not disturbed).
    runTool("--wait 1 NOSUCH NOSUCH 1", &out, "KVS_PORT=' " + port + "' " + kvsreq);
    EXPECT_EQ(0u,
              out.find("Ung\xFCltiger Port in KVS_PORT:  " + port + ", Port 3339 wird verwendet\n"))
        << out;
}

// ---- a second run: a worker that dies while it works ----

class CrashingWorker : public ::testing::Test {
   protected:
    static ServiceRun *run;

    static void SetUpTestSuite() {
        g_db->exec("DELETE FROM KVSYSTEM.KVS500JOB");
        g_db->exec("DELETE FROM KVSYSTEM.KVS112MND");
        ASSERT_TRUE(g_db->addTenant("ABC", 10));
        run = new ServiceRun(*g_db);
        ASSERT_TRUE(run->start({"KVS_WORKER_CRASH_AFTER=2", "KVS_WORKER_ONLY=ABC#ALLE"}))
            << run->service.output();
    }

    static void TearDownTestSuite() {
        run->finish();
        delete run;
        run = nullptr;
    }
};
ServiceRun *CrashingWorker::run = nullptr;

TEST_F(CrashingWorker, NoLongerHoldsTheService) {
    std::string oldPid = run->workerPid("DEV:ABC#ALLE");
    std::string reply;
    // Sent before the worker may have created its pipe and event.
    run->request("SCHEMA:ABC USER:ALLE PARM:8 END", &reply);
    EXPECT_EQ(replyBlock("OK:8 END"), reply);
    // The second number ends the worker in the middle of its work.
    std::vector<std::string> log = run->request("SCHEMA:ABC USER:ALLE PARM:9 END", &reply);
    EXPECT_EQ("", reply);
    // The new worker is reached by the next request, sent at once.
    std::string next;
    run->request("SCHEMA:ABC USER:ALLE PARM:11 END", &next);
    EXPECT_EQ(replyBlock("OK:11 END"), next);
    ASSERT_GE(log.size(), 7u);
    EXPECT_EQ("Message mit ParmKey an DEV gesendet: 9!", log[4]);
    EXPECT_EQ("Fehler WaitForSingleObject! Task: ABC#ALLE Fehler: No such process", log[5]);
    EXPECT_EQ("Fehler workTask()!", log[6]);
    // checkTask found the worker gone and started a new one.
    EXPECT_NE(oldPid, run->workerPid("DEV:ABC#ALLE"));
    EXPECT_EQ(2u, countOf(run->env.log(),
                          "Start PGM: dev_mysql.exe Cmd: DEV_MYSQL.EXE ../files/A107.ini "
                          "USER:ABC#ALLE\n"));

    run->request("SCHEMA:ABC USER:KORR PARM:10 END", &reply);
    EXPECT_EQ(replyBlock("OK:10 END"), reply);
}

// ---- a stop signal while a request is served ----

// The request in hand is finished (worked, answered, closed) before the
// service stops, as with the stop message on the control pipe.
TEST(StopSignal, RequestInHandIsAnsweredBeforeTheServiceStops) {
    g_db->exec("DELETE FROM KVSYSTEM.KVS500JOB");
    g_db->exec("DELETE FROM KVSYSTEM.KVS112MND");
    ASSERT_TRUE(g_db->addTenant("ABC", 10));
    ServiceRun run(*g_db);
    ASSERT_TRUE(run.start({"KVS_WORKER_PAUSE_MS=1500", "KVS_WORKER_ONLY=ABC#ALLE"}))
        << run.service.output();
    std::string reply;
    std::thread client([&] { reply = exchange(run.env.port, "SCHEMA:ABC USER:ALLE PARM:5 END"); });
    ASSERT_TRUE(
        waitUntil([&] { return countOf(run.env.log(), "gesendet: 5!") == 1; }, REPLY_WAIT_MS));
    kill(run.service.pid(), SIGTERM);
    client.join();
    EXPECT_EQ(replyBlock("OK:5 END"), reply);
    EXPECT_EQ(0, run.service.waitExit(30000));
    std::string output = run.service.output();
    EXPECT_NE(std::string::npos, output.find("Client geantwortet: OK:5 END! Bytes: 512\n"))
        << output;
    EXPECT_EQ(std::string::npos, output.find("Fehler beim Antwortsenden")) << output;
    EXPECT_EQ(1u, countOf(run.env.log(), "Stopsignal empfangen! KVSTGBSTR wird beendet.\n"));
}

}  // namespace
