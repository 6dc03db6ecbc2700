#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "tests/platform/child_process.h"

extern char **environ;

std::string testProgram(const char *name) {
    const char *dir = getenv("KVS_TEST_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

void setTestIpcDir(const char *dir) {
    if (dir != nullptr)
        setenv("KVS_IPC_DIR", dir, 1);
    else
        unsetenv("KVS_IPC_DIR");
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(SIGKILL);
        wait();
    }
    if (out_ >= 0) close(static_cast<int>(out_));
}

bool ChildProcess::start(const std::vector<std::string> &args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::string program = testProgram("kvs_plat_child");
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    pid_t child = -1;
    int rc = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    pid_ = child;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
}

std::string ChildProcess::readLine(int timeoutMs) {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        struct pollfd fd = {static_cast<int>(out_), POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0) return "";
        char buf[256];
        ssize_t n = read(static_cast<int>(out_), buf, sizeof buf);
        if (n <= 0) return "";
        pending_.append(buf, static_cast<size_t>(n));
    }
}

void ChildProcess::kill(int signal) {
    if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), signal);
}

int ChildProcess::wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    while (waitpid(static_cast<pid_t>(pid_), &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
