// Starts kvs_plat_child as a separate process with its standard output on a
// pipe, so a test can wait for its "ready" line and then act on it.
#pragma once

#include <sys/types.h>

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
    void kill(int signal);
    // Waits for the end; the exit code, 128 + signal when killed.
    int wait();
    pid_t pid() const { return pid_; }

   private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// The path of a helper program built next to the tests.
std::string testProgram(const char *name);
