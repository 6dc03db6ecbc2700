#include "tests/support/service_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <sstream>

#include "platform/event.h"
#include "platform/handle.h"
#include "tests/support/mariadb.h"
#include "tests/support/tcp_client.h"

extern char **environ;

namespace {

const int POLL_MS = 50;

std::string binDir() {
    const char *dir = getenv("KVS_BIN_DIR");
    return dir != nullptr ? dir : "";
}

// 1 when nothing listens on the port and a listener could bind it now.
bool portFree(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    bool ok = bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(s);
    return ok;
}

// Below the kernel's ephemeral range, so no outgoing connection takes it
// between this check and the service's bind.
uint16_t pickFreePort() {
    std::mt19937 random(static_cast<unsigned>(getpid()) * 7919u ^
                        static_cast<unsigned>(time(nullptr)));
    for (int attempt = 0; attempt < 200; ++attempt) {
        uint16_t port = static_cast<uint16_t>(20000 + random() % 12000);
        if (portFree(port)) return port;
    }
    return 0;
}

// NAME=VALUE entries of the current environment, with overrides applied.
std::vector<std::string> buildEnvironment(const std::vector<std::string> &overrides) {
    std::vector<std::string> result;
    for (char **e = environ; *e != nullptr; ++e) result.emplace_back(*e);
    for (const std::string &entry : overrides) {
        std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (std::string &have : result)
            if (have.compare(0, name.size(), name) == 0) {
                have = entry;
                replaced = true;
            }
        if (!replaced) result.push_back(entry);
    }
    return result;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> result;
    for (std::string &t : texts) result.push_back(&t[0]);
    result.push_back(nullptr);
    return result;
}

std::vector<std::string> splitWords(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

// Forks and execs; stdout and stderr go to outFd, stdin is /dev/null. The
// child leads its own process group so that its workers can be swept with it.
int spawn(const std::string &program, std::vector<std::string> args, std::vector<std::string> env,
          const std::string &cwd, int outFd) {
    args.insert(args.begin(), program);
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(env);
    pid_t pid = fork();
    if (pid != 0) return pid;
    // Only async-signal-safe calls from here on.
    setpgid(0, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    dup2(outFd, 1);
    dup2(outFd, 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
}

// Exit status of a reaped child: its code, or 128 + signal.
int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

ServiceEnv::ServiceEnv()
    : work(root.makeDir("work")),
      filesDir(root.makeDir("files")),
      logDir(root.makeDir("korvantis_php/log")),
      ipcDir(root.makeDir("ipc")),
      port(pickFreePort()) {}

std::string ServiceEnv::logPath() const {
    return logDir + "/kvstgbstr.log";
}
std::string ServiceEnv::log() const {
    return readFile(logPath());
}
std::string ServiceEnv::credentialsPath() const {
    return filesDir + "/korvantis.ini";
}

bool ServiceProcess::start(const ServiceEnv &env, const std::vector<std::string> &extraEnv) {
    if (pid_ > 0) return false;
    static int serial = 0;
    outputPath_ = env.root.file("service-" + std::to_string(++serial) + ".out");
    workDir_ = env.work;
    const char *path = getenv("PATH");
    std::vector<std::string> overrides = {
        "KVS_IPC_DIR=" + env.ipcDir,
        "KVS_PORT=" + std::to_string(env.port),
        "PATH=" + binDir() + ":" + (path != nullptr ? path : "/usr/bin:/bin"),
    };
    overrides.insert(overrides.end(), extraEnv.begin(), extraEnv.end());
    environment_ = buildEnvironment(overrides);

    int fd = open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    pid_ = spawn(binDir() + "/kvstgbstr", {}, environment_, workDir_, fd);
    close(fd);
    exitStatus_ = -1;
    return pid_ > 0;
}

bool ServiceProcess::waitForOutput(const std::string &text, int timeoutMs) {
    for (int waited = 0;; waited += POLL_MS) {
        if (output().find(text) != std::string::npos) return true;
        if (waited >= timeoutMs) return false;
        usleep(POLL_MS * 1000);
    }
}

std::string ServiceProcess::output() const {
    return readFile(outputPath_);
}

int ServiceProcess::pid() const {
    return pid_;
}

bool ServiceProcess::running() {
    if (pid_ <= 0 || exitStatus_ >= 0) return false;
    int raw = 0;
    pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == 0) return true;
    exitStatus_ = done == pid_ ? statusOf(raw) : 255;
    return false;
}

int ServiceProcess::runKvsctl(const std::string &args, std::string *out) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    // Before start() the caller's own environment stands in.
    std::vector<std::string> env = environment_.empty() ? buildEnvironment({}) : environment_;
    pid_t child = spawn(binDir() + "/kvsctl", splitWords(args), env, workDir_, fds[1]);
    close(fds[1]);
    std::string text;
    char chunk[512];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(got));
    close(fds[0]);
    if (out != nullptr) *out = text;
    if (child <= 0) return -1;
    int raw = 0;
    if (waitpid(child, &raw, 0) != child) return -1;
    return statusOf(raw);
}

bool ServiceProcess::stop(int timeoutMs) {
    if (!running()) return false;
    runKvsctl("stop");
    return waitExit(timeoutMs) >= 0;
}

int ServiceProcess::waitExit(int timeoutMs) {
    for (int waited = 0;; waited += POLL_MS) {
        if (!running()) return exitStatus_;
        if (waited >= timeoutMs) return -1;
        usleep(POLL_MS * 1000);
    }
}

void ServiceProcess::kill9() {
    if (pid_ <= 0) return;
    if (running()) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitExit(10000);
    }
}

ServiceProcess::~ServiceProcess() {
    if (pid_ <= 0) return;
    kill9();
    // Workers the service left behind share its process group.
    kill(-pid_, SIGKILL);
}

static const int START_WAIT_MS = 60000;
static const int REPLY_WAIT_MS = 60000;

bool ServiceRun::start(const std::vector<std::string> &extraEnv) {
    if (!db.writeCredentials(env.credentialsPath())) return false;
    setenv("KVS_IPC_DIR", env.ipcDir.c_str(), 1);
    return service.start(env, extraEnv) &&
           service.waitForOutput("Server listening on Port", START_WAIT_MS);
}

void ServiceRun::finish() {
    EXPECT_TRUE(service.stop());
    std::string output = service.output();
    EXPECT_EQ(std::string::npos, output.find("Sanitizer")) << output;
    EXPECT_EQ(std::string::npos, output.find("runtime error")) << output;
}

std::vector<std::string> ServiceRun::request(const std::string &text, std::string *reply) {
    size_t offset = env.log().size();
    *reply = tcpExchange(env.port, text, REPLY_WAIT_MS);
    return logLinesFrom(env.log(), offset);
}

std::string ServiceRun::workerPid(const std::string &ke2) {
    std::string pid =
        db.query("SELECT JOBNUM FROM KVSYSTEM.KVS500JOB WHERE JOBKE2 = '" + ke2 + "'");
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r')) pid.pop_back();
    return pid;
}

bool ServiceRun::waitForEvent(const std::string &name) {
    return waitUntil(
        [&] {
            PlatHandle event = platEventOpen(name.c_str());
            if (!platHandleOpen(event)) return false;
            platCloseHandle(event);
            return true;
        },
        START_WAIT_MS);
}

std::string replyBlock(const std::string &text) {
    std::string block = text;
    block.resize(512, '\0');
    return block;
}

std::vector<std::string> logLinesFrom(const std::string &log, size_t offset) {
    std::vector<std::string> lines;
    std::istringstream in(log.substr(offset < log.size() ? offset : log.size()));
    std::string line;
    while (std::getline(in, line)) {
        bool stamped = line.size() >= 21 && line[4] == '-' && line[10] == ' ' && line[19] == ' ';
        lines.push_back(stamped ? line.substr(21) : line);
    }
    return lines;
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (condition()) return true;
        usleep(50 * 1000);
    }
    return condition();
}

size_t countOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}
