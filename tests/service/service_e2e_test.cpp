// The service program end to end: a real process in a throw-away
// installation, its own MariaDB, real TCP clients and the real kvsctl. Each
// run that stops normally costs the five-second shutdown pause, so the cases
// are few and each checks a whole story.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tests/support/mariadb.h"
#include "tests/support/service_run.h"
#include "tests/support/tcp_client.h"

namespace {

const int START_MS = 30000;
const std::string BANNER_START =
    "****************************************\n** Programm KVSTGBSTR wurde gestartet **\n";
const std::string BANNER_END =
    "** Programm KVSTGBSTR wurde beendet **\n****************************************\n";
const std::string STOP_MESSAGE = "Endenachricht aus Pipe \\\\.\\pipe\\KVSTGBSTR empfangen!\n";
const std::string SIGNAL_MESSAGE = "Stopsignal empfangen! KVSTGBSTR wird beendet.\n";

PrivateMariaDb *g_db = nullptr;

class Service : public testing::Test {
   protected:
    static void SetUpTestSuite() {
        g_db = new PrivateMariaDb;
        if (!g_db->start()) {
            delete g_db;
            g_db = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete g_db;
        g_db = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(g_db, nullptr) << "the private database did not start";
        ASSERT_NE(env_.port, 0);
        ASSERT_TRUE(g_db->writeCredentials(env_.credentialsPath()));
    }
    void startListening(const std::vector<std::string> &extraEnv = {}) {
        ASSERT_TRUE(service_.start(env_, extraEnv));
        ASSERT_TRUE(service_.waitForOutput(
            "Server listening on Port " + std::to_string(env_.port) + "\n", START_MS))
            << service_.output() << env_.log();
    }
    bool waitForLog(const std::string &text, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (env_.log().find(text) != std::string::npos) return true;
            usleep(50 * 1000);
        }
        return env_.log().find(text) != std::string::npos;
    }

    ServiceEnv env_;
    ServiceProcess service_;
};

// Seconds of the stamp in front of the log line holding text; -1 if none.
long stampOf(const std::string &log, const std::string &text) {
    size_t at = log.find(text);
    if (at == std::string::npos || at < 21) return -1;
    std::string stamp = log.substr(at - 21, 19);
    tm parts{};
    if (!strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &parts)) return -1;
    return static_cast<long>(timegm(&parts));
}

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(Service, ServesClientsAnswersPidAndStopsThroughKvsctl) {
    startListening();
    EXPECT_EQ(env_.log().find(BANNER_START), 21u) << env_.log();

    // A client that sends nothing is dropped after its time limit; the next one is served.
    int silent = tcpConnectLoopback(env_.port);
    ASSERT_GE(silent, 0);
    EXPECT_TRUE(service_.waitForOutput("Zeitueberschreitung der Anforderung (Error: 0)\n", 20000))
        << service_.output();
    close(silent);
    int client = tcpConnectLoopback(env_.port);
    ASSERT_GE(client, 0);
    std::string request = "SCHEMA:ABC USER:ALLE PARM:4711 END\r\n";
    ASSERT_EQ(send(client, request.data(), request.size(), 0),
              static_cast<ssize_t>(request.size()));
    EXPECT_TRUE(service_.waitForOutput(
        "Clientanfrage empfangen! \nClientmessage: " + request + "! Bytes: 36\n", 20000))
        << service_.output();
    close(client);

    // A second installation on the same pipes fails at the control pipe.
    ServiceProcess second;
    ASSERT_TRUE(second.start(env_));
    EXPECT_EQ(second.waitExit(START_MS), 1);
    EXPECT_NE(env_.log().find("Pipe \\\\.\\pipe\\KVSTGBSTR konnte nicht erstellt werden! Info: "),
              std::string::npos);
    EXPECT_NE(env_.log().find("Fehler bei der Erstellung der Kommunikationspipe zum JobStarter!\n"),
              std::string::npos);
    EXPECT_TRUE(service_.running());

    // "pid" and, at once, "stop": the second must wait for the pipe to come back.
    std::string out;
    EXPECT_EQ(service_.runKvsctl("pid", &out), 0);
    EXPECT_EQ(out, "0\n");
    EXPECT_EQ(service_.runKvsctl("stop", &out), 0) << out;
    EXPECT_EQ(service_.waitExit(20000), 0);

    std::string log = env_.log();
    EXPECT_EQ(count(log, STOP_MESSAGE), 1u) << log;
    ASSERT_GE(log.size(), BANNER_END.size());
    EXPECT_EQ(log.substr(log.size() - BANNER_END.size()), BANNER_END);
    // Nothing of the shutdown before the five-second pause is over.
    long stopped = stampOf(log, STOP_MESSAGE);
    long ended = stampOf(log, BANNER_END);
    ASSERT_GE(stopped, 0);
    EXPECT_GE(ended - stopped, 5);
}

// A datagram socket that stands in for systemd's notification socket.
int bindNotifySocket(const std::string &path) {
    int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (s < 0 || path.size() >= sizeof addr.sun_path) return -1;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) return s;
    close(s);
    return -1;
}

// The next report on it, "" if none came within timeoutMs.
std::string nextNotification(int s, int timeoutMs) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return "";
    char buffer[512];
    ssize_t got = recv(s, buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

// Under systemd (Type=notify) the signal is how the unit is stopped; the
// service reports ready once it listens and stopping once its loop ends.
TEST_F(Service, StopSignalStopsLikeTheStopMessage) {
    std::string notifyPath = env_.root.file("notify");
    int notify = bindNotifySocket(notifyPath);
    ASSERT_GE(notify, 0);
    startListening({"NOTIFY_SOCKET=" + notifyPath});
    EXPECT_EQ(nextNotification(notify, START_MS),
              "READY=1\nSTATUS=Port " + std::to_string(env_.port) + ", 0 DEV-Prozesse laufen");
    ASSERT_EQ(kill(service_.pid(), SIGPIPE), 0);  // never ends the service
    ASSERT_EQ(kill(service_.pid(), SIGTERM), 0);
    EXPECT_EQ(service_.waitExit(20000), 0);
    std::string log = env_.log();
    EXPECT_EQ(count(log, SIGNAL_MESSAGE), 1u) << log;
    EXPECT_EQ(log.find(STOP_MESSAGE), std::string::npos);
    EXPECT_EQ(log.find("Fehler beim Warten"), std::string::npos);
    ASSERT_GE(log.size(), BANNER_END.size());
    EXPECT_EQ(log.substr(log.size() - BANNER_END.size()), BANNER_END);
    EXPECT_GE(stampOf(log, BANNER_END) - stampOf(log, SIGNAL_MESSAGE), 5);
    EXPECT_EQ(nextNotification(notify, 0), "STOPPING=1\nSTATUS=KVSTGBSTR wird beendet");
    EXPECT_EQ(nextNotification(notify, 0), "");
    close(notify);
}

// A worker that never signals holds the hand-off; a stop signal lets it go
// on for ten seconds more, then the client is closed unanswered and the
// shutdown runs in full: pause, checks, stops, banner.
TEST_F(Service, StopSignalEndsTheServiceWhileAWorkerHangs) {
    ASSERT_TRUE(g_db->addTenant("HNG", 10));
    ASSERT_TRUE(service_.start(env_, {"KVS_WORKER_NO_SIGNAL=1", "KVS_WORKER_ONLY=HNG#ALLE"}));
    ASSERT_TRUE(service_.waitForOutput("Server listening on Port", START_MS)) << env_.log();
    int client = tcpConnectLoopback(env_.port);
    ASSERT_GE(client, 0);
    std::string request = "SCHEMA:HNG USER:ALLE PARM:5 END";
    ASSERT_EQ(send(client, request.data(), request.size(), 0),
              static_cast<ssize_t>(request.size()));
    ASSERT_TRUE(waitForLog("Message mit ParmKey an DEV gesendet: 5!\n", START_MS)) << env_.log();

    timespec signalled{}, ended{};
    clock_gettime(CLOCK_MONOTONIC, &signalled);
    ASSERT_EQ(kill(service_.pid(), SIGTERM), 0);
    EXPECT_EQ(tcpReadToEnd(client, 30000), "");
    close(client);
    EXPECT_EQ(service_.waitExit(30000), 0);
    clock_gettime(CLOCK_MONOTONIC, &ended);
    long ms =
        (ended.tv_sec - signalled.tv_sec) * 1000 + (ended.tv_nsec - signalled.tv_nsec) / 1000000;
    RecordProperty("stop_with_hung_worker_ms", std::to_string(ms));
    EXPECT_LE(ms, 20000);

    std::string log = env_.log();
    const std::string waitFailed =
        "Fehler WaitForSingleObject! Task: HNG#ALLE Fehler: Stopsignal empfangen, KVSTGBSTR wird "
        "beendet\n";
    size_t failed = log.find(waitFailed);
    ASSERT_NE(failed, std::string::npos) << log;
    size_t order[] = {failed, log.find("Fehler workTask()!\n", failed),
                      log.find(SIGNAL_MESSAGE, failed), log.rfind(BANNER_END)};
    for (size_t i = 1; i < sizeof order / sizeof order[0]; i++)
        EXPECT_LT(order[i - 1], order[i]) << log;
    EXPECT_EQ(log.find("Ende Nachricht Client senden!"), std::string::npos);
    EXPECT_EQ(count(log, SIGNAL_MESSAGE), 1u);
    EXPECT_GE(stampOf(log, waitFailed) - stampOf(log, "gesendet: 5!"), 9);
    EXPECT_GE(stampOf(log, BANNER_END) - stampOf(log, SIGNAL_MESSAGE), 5);
    // The hung worker was checked and stopped.
    EXPECT_EQ(g_db->query("SELECT JOBSTS FROM KVSYSTEM.KVS500JOB WHERE JOBUSR = 'HNG#ALLE'"),
              "98\n");
    EXPECT_TRUE(g_db->exec("DELETE FROM KVSYSTEM.KVS500JOB"));
    EXPECT_TRUE(g_db->exec("DELETE FROM KVSYSTEM.KVS112MND"));
}

TEST_F(Service, TakenPortEndsTheStartUp) {
    int occupant = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(env_.port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(occupant, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(occupant, 1), 0);

    ASSERT_TRUE(service_.start(env_));
    EXPECT_EQ(service_.waitExit(START_MS), 1);
    close(occupant);
    std::string log = env_.log();
    EXPECT_NE(log.find("  Fehler Serversocket an Port " + std::to_string(env_.port) +
                       " erzeugen. 10048\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(BANNER_END), std::string::npos);
    EXPECT_EQ(service_.output().find("Server listening"), std::string::npos);
}

TEST_F(Service, WrongPasswordEndsAfterTheStartBanner) {
    ASSERT_TRUE(g_db->writeCredentials(env_.credentialsPath(), "MYSQL", "falsch"));
    ASSERT_TRUE(service_.start(env_));
    EXPECT_EQ(service_.waitExit(START_MS), 1);
    std::string log = env_.log();
    ASSERT_EQ(log.find(BANNER_START), 21u) << log;
    size_t after = 21 + BANNER_START.size();
    ASSERT_GE(log.size(), after + 21);
    EXPECT_EQ(log.substr(after + 21), "- Verbindung zur Datenbank fehlgeschlagen, Fehler : -1\n");
}

// Anybody may enter a wide-open IPC directory and plant or remove the
// objects; the start-up ends at the stop event, before any worker, and
// kvsctl refuses the directory in the same words.
TEST_F(Service, WideOpenIpcDirectoryEndsTheStartUp) {
    ASSERT_EQ(chmod(env_.ipcDir.c_str(), 0777), 0);
    ASSERT_TRUE(service_.start(env_));
    EXPECT_EQ(service_.waitExit(START_MS), 1);
    std::string refusal =
        "IPC-Verzeichnis " + env_.ipcDir + " abgelehnt: Besitzer " + std::to_string(geteuid()) +
        ", Modus 0777; verlangt: ein Verzeichnis des Benutzers " + std::to_string(geteuid()) +
        " ohne Zugriff f\xFCr Gruppe und andere (0700)\n";
    EXPECT_EQ(count(service_.output(), refusal), 1u) << service_.output();
    std::string log = env_.log();
    std::string failed =
        "Stop-Eventhandle f\xFCr TGBs konnte nicht erzeugt werden: Permission denied";
    ASSERT_GE(log.size(), failed.size());
    EXPECT_EQ(log.substr(log.size() - failed.size()), failed) << log;  // nothing after it
    EXPECT_EQ(log.find("Start PGM"), std::string::npos);               // no worker started
    std::string out;
    EXPECT_EQ(service_.runKvsctl("stop", &out), 1);
    EXPECT_NE(out.find(refusal), std::string::npos) << out;
}

// kvsctl needs no database: these run against no service at all.
TEST(Kvsctl, ReportsAMissingServiceAndBadArguments) {
    ServiceEnv env;
    ServiceProcess none;  // never started: kvsctl gets this process's environment
    ASSERT_EQ(setenv("KVS_IPC_DIR", env.ipcDir.c_str(), 1), 0);
    ASSERT_EQ(setenv("KVS_PORT", std::to_string(env.port).c_str(), 1), 0);
    std::string out;
    EXPECT_EQ(none.runKvsctl("stop", &out), 1);
    EXPECT_NE(out.find("no KVSTGBSTR service is running"), std::string::npos) << out;
    EXPECT_EQ(none.runKvsctl("pid", &out), 1);
    EXPECT_EQ(none.runKvsctl("", &out), 2);
    EXPECT_NE(out.find("usage: kvsctl"), std::string::npos);
    EXPECT_EQ(none.runKvsctl("halt", &out), 2);
    EXPECT_EQ(none.runKvsctl("stop now", &out), 2);
}

}  // namespace
