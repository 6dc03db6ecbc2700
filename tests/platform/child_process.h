// Starts kvs_plat_child as a separate process with its standard output on a
// pipe, so a test can wait for its "ready" line and then act on it. One
// implementation per system (child_process_posix.cpp, child_process_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ChildProcess {
   public:
    ~ChildProcess();
    // Starts kvs_plat_child with args; false when it cannot be started.
    bool start(const std::vector<std::string> &args);
    // The next line of the child's output without its line end; "" at the
    // end of the output or after timeoutMs.
    std::string readLine(int timeoutMs = 20000);
    // POSIX sends the signal; Windows ends the process with 128 + signal.
    void kill(int signal);
    // Waits for the end; the exit code, 128 + signal when killed.
    int wait();
    int64_t pid() const { return pid_; }

   private:
    int64_t pid_ = -1;
    intptr_t out_ = -1;     // the read end of the child's output
    intptr_t process_ = 0;  // Windows: the process handle
    std::string pending_;
};

// SIGKILL's number, for kill(): the same on every POSIX system.
const int KILL_SIGNAL = 9;

// The path of a helper program built next to the tests (".exe" added on
// Windows).
std::string testProgram(const char *name);
// Moves this process's named pipes and events into dir (KVS_IPC_DIR) and,
// with nullptr, back to the default. Windows has no such directory: no-op.
void setTestIpcDir(const char *dir);
