// Runs the real service program in a throw-away installation: a temporary
// directory laid out like a deployment, a free port and a private directory
// for the named pipes and events, so tests never meet a running service.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/tempdir.h"

class PrivateMariaDb;

struct ServiceEnv {        // a complete installation in a temp dir
    TempDir root;          // <tmp>
    std::string work;      // <tmp>/work  (the service's working directory)
    std::string filesDir;  // <tmp>/files (credentials file goes here: korvantis.ini)
    std::string logDir;    // <tmp>/korvantis_php/log
    std::string ipcDir;    // <tmp>/ipc   (KVS_IPC_DIR for the service, its workers, kvsctl)
    uint16_t port;         // a free port below 32768 (KVS_PORT)
    ServiceEnv();
    std::string logPath() const;          // logDir + "/kvstgbstr.log"
    std::string log() const;              // its content
    std::string credentialsPath() const;  // filesDir + "/korvantis.ini"
};

class ServiceProcess {
   public:
    ServiceProcess() = default;
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Starts $KVS_BIN_DIR/kvstgbstr with cwd env.work, env KVS_IPC_DIR, KVS_PORT,
    // PATH=$KVS_BIN_DIR:$PATH (workers), the rest inherited (ODBCINI...), plus extra
    // NAME=VALUE entries; stdout+stderr go to a file.
    bool start(const ServiceEnv &env, const std::vector<std::string> &extraEnv = {});
    bool waitForOutput(const std::string &text, int timeoutMs);  // polls output()
    std::string output() const;
    int pid() const;
    bool running();
    int runKvsctl(const std::string &args, std::string *out = nullptr);  // same env as service
    bool stop(int timeoutMs = 20000);  // kvsctl stop, then waits for the exit
    int waitExit(int timeoutMs);       // exit status, -1 on time-out
    void kill9();
    ~ServiceProcess();  // SIGKILL if still running

   private:
    std::vector<std::string> environment_;  // NAME=VALUE, as the service got it
    std::string outputPath_;
    std::string workDir_;
    int pid_ = -1;
    int exitStatus_ = -1;  // once reaped
};

// One service run shared by the cases of a suite, with the credentials of a
// private database server: starting and stopping costs seconds (the
// shutdown pause alone is five).
struct ServiceRun {
    explicit ServiceRun(PrivateMariaDb &db) : db(db) {}

    // Writes the credentials, points this process's KVS_IPC_DIR at the run's
    // directory (to look at the workers' events), starts the service and
    // waits for its listening line.
    bool start(const std::vector<std::string> &extraEnv);
    // Stops the service; a sanitizer report in its output (sanitizer
    // builds) fails the run.
    void finish();
    // Sends a request and returns the log lines it caused once the reply or
    // the close arrived.
    std::vector<std::string> request(const std::string &text, std::string *reply);
    // The JOBNUM of the job row with this JOBKE2.
    std::string workerPid(const std::string &ke2);
    // Waits until the worker's event can be opened. A (re)started worker
    // creates its pipe first, so once the event is there the pipe is too.
    bool waitForEvent(const std::string &name);

    PrivateMariaDb &db;
    ServiceEnv env;
    ServiceProcess service;
};

// The 512-byte reply block that begins with text.
std::string replyBlock(const std::string &text);
// The log's messages from byte offset on, each without its time stamp.
std::vector<std::string> logLinesFrom(const std::string &log, size_t offset);
// Polls condition every 50 ms until it holds or timeoutMs passed.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
// How often part occurs in text (overlaps counted).
size_t countOf(const std::string &text, const std::string &part);
