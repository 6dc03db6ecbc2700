// Runs the real service program in a throw-away installation: a temporary
// directory laid out like a deployment, a free port and a private directory
// for the named pipes and events, so tests never meet a running service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/tempdir.h"

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
