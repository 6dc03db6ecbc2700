// The substitute worker as a real process: its arguments, its event and pipe,
// the numbers over one kept connection, the test behaviours, and that it
// leaves nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/pipe.h"
#include "tests/support/tempdir.h"

namespace {

const uint32_t GENEROUS_MS = 10000;  // a bound against hangs, never a speed check

struct Worker {
    pid_t pid = -1;
    std::string out;
    std::string err;
};

std::string workerPath() {
    const char *dir = getenv("KVS_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/DEV_MYSQL.EXE";
}

// Starts the worker with args and extra NAME=VALUE entries; output to files in dir.
Worker startWorker(const TempDir &dir, std::vector<std::string> args,
                   const std::vector<std::string> &extraEnv = {}) {
    Worker worker;
    worker.out = dir.file("out.txt");
    worker.err = dir.file("err.txt");
    args.insert(args.begin(), workerPath());
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("KVS_WORKER_", 0) != 0) env.emplace_back(*e);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char *> argv, envp;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string &e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    int outFd = open(worker.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int errFd = open(worker.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    worker.pid = fork();
    if (worker.pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    return worker;
}

// Exit status, 128 + signal, or -1 when it did not end in time.
int waitExit(pid_t pid) {
    for (int64_t start = platMonotonicMs(); platMonotonicMs() - start < GENEROUS_MS;) {
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
        platSleepMs(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Opens the worker's pipe once it exists.
PlatHandle attach(const std::string &key) {
    std::string path = "\\\\.\\pipe\\" + key;
    for (int64_t start = platMonotonicMs(); platMonotonicMs() - start < GENEROUS_MS;) {
        int result = 0;
        PlatHandle pipe = platPipeOpen(path.c_str(), &result);
        if (platHandleOpen(pipe)) return pipe;
        platSleepMs(20);
    }
    return PLAT_INVALID_HANDLE;
}

// Opens the worker's event once it exists: the worker creates it right after
// its pipe, so a connection to the pipe can come before it.
PlatHandle openEvent(const std::string &key) {
    for (int64_t start = platMonotonicMs(); platMonotonicMs() - start < GENEROUS_MS;) {
        PlatHandle event = platEventOpen(key.c_str());
        if (platHandleOpen(event)) return event;
        platSleepMs(20);
    }
    return PLAT_INVALID_HANDLE;
}

// One hand-off as the service does it: pulse, write the digits, wait.
int handOff(PlatHandle event, PlatHandle pipe, const std::string &digits, uint32_t waitMs) {
    platEventPulse(event);
    size_t written = 0;
    if (platPipeWrite(pipe, digits.data(), digits.size(), &written) != PLAT_PIPE_OK) return -1;
    return platEventWait(event, waitMs);
}

bool pipeGone(const std::string &key) {
    int result = 0;
    PlatHandle pipe = platPipeOpen(("\\\\.\\pipe\\" + key).c_str(), &result);
    if (platHandleOpen(pipe)) platCloseHandle(pipe);
    return result == PLAT_PIPE_NOT_FOUND;
}

bool eventGone(const std::string &key) {
    PlatHandle event = platEventOpen(key.c_str());
    if (!platHandleOpen(event)) return true;
    platCloseHandle(event);
    return false;
}

class WorkerTest : public ::testing::Test {
   protected:
    void SetUp() override { setenv("KVS_IPC_DIR", ipc.path().c_str(), 1); }
    TempDir ipc;
    TempDir files;
};

TEST_F(WorkerTest, UnusableArgumentsEndWithStatusTwoAndAReason) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"../files/A107.ini"},
        {"../files/A107.ini", "ABC#ALLE"},
        {"../files/A107.ini", "user:ABC#ALLE"},
        {"../files/A107.ini", "USER:"},
        {"../files/A107.ini", "USER:" + std::string(55, 'K')},
        {"../files/A107.ini", "USER:ABC#ALLE", "extra"},
    };
    for (const auto &args : cases) {
        Worker worker = startWorker(files, args);
        EXPECT_EQ(2, waitExit(worker.pid)) << args.size();
        std::string err = readFile(worker.err);
        EXPECT_NE(std::string::npos, err.find("usage:")) << err;
    }
}

TEST_F(WorkerTest, ServesNumbersOverKeptAndNewConnectionsAndStopsCleanly) {
    std::string key = "ABC#ALLE" + std::string(46, '2');  // 54 characters: the longest key
    Worker worker = startWorker(files, {"../files/A107.ini", "USER:" + key});
    PlatHandle pipe = attach(key);
    ASSERT_TRUE(platHandleOpen(pipe));
    PlatHandle event = openEvent(key);
    ASSERT_TRUE(platHandleOpen(event));

    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "4711", GENEROUS_MS));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "-2147483648", GENEROUS_MS));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "0", GENEROUS_MS));
    // Bytes that are no number get no work, but the sender is not held.
    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "12a", GENEROUS_MS));
    platCloseHandle(pipe);

    // The worker takes the next connection after the first one broke.
    pipe = attach(key);
    ASSERT_TRUE(platHandleOpen(pipe));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "12", GENEROUS_MS));

    kill(worker.pid, SIGTERM);
    EXPECT_EQ(0, waitExit(worker.pid));
    platCloseHandle(pipe);
    platCloseHandle(event);
    std::string prefix = "DEV " + key + " ";
    EXPECT_EQ(prefix + "4711\n" + prefix + "-2147483648\n" + prefix + "0\n" + prefix + "12\n",
              readFile(worker.out));
    EXPECT_NE(std::string::npos, readFile(worker.err).find("no parameter number"));
    EXPECT_TRUE(pipeGone(key));
    EXPECT_TRUE(eventGone(key));
}

TEST_F(WorkerTest, CrashMidWorkLeavesNoSignalAndNothingBehind) {
    Worker worker = startWorker(files, {"x.ini", "USER:S#ALLE"}, {"KVS_WORKER_CRASH_AFTER=2"});
    PlatHandle pipe = attach("S#ALLE");
    ASSERT_TRUE(platHandleOpen(pipe));
    PlatHandle event = openEvent("S#ALLE");
    ASSERT_TRUE(platHandleOpen(event));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "1", GENEROUS_MS));
    size_t written = 0;
    platPipeWrite(pipe, "2", 1, &written);
    EXPECT_EQ(3, waitExit(worker.pid));
    EXPECT_EQ(PLAT_WAIT_TIMEOUT, platEventWait(event, 0)) << "no signal for the second number";
    platCloseHandle(event);
    platCloseHandle(pipe);
    EXPECT_EQ("DEV S#ALLE 1\n", readFile(worker.out));
    EXPECT_TRUE(pipeGone("S#ALLE"));
    EXPECT_TRUE(eventGone("S#ALLE"));
}

TEST_F(WorkerTest, StopEndsAPauseAtOnce) {
    Worker worker = startWorker(files, {"x.ini", "USER:S#KORR"}, {"KVS_WORKER_PAUSE_MS=3600000"});
    PlatHandle pipe = attach("S#KORR");
    ASSERT_TRUE(platHandleOpen(pipe));
    size_t written = 0;
    ASSERT_EQ(PLAT_PIPE_OK, platPipeWrite(pipe, "7", 1, &written));
    platSleepMs(200);  // the worker is in its pause now
    kill(worker.pid, SIGTERM);
    EXPECT_EQ(0, waitExit(worker.pid));
    platCloseHandle(pipe);
    EXPECT_EQ("", readFile(worker.out)) << "stopped before its work was done";
}

// A second worker of a key waits while the pipe name is taken, takes it once
// the first has ended, and a stop ends the wait too.
TEST_F(WorkerTest, TakenPipeNameIsWaitedFor) {
    Worker first = startWorker(files, {"x.ini", "USER:S#ALLE"});
    PlatHandle pipe = attach("S#ALLE");
    ASSERT_TRUE(platHandleOpen(pipe));
    platCloseHandle(pipe);
    TempDir secondFiles, thirdFiles;
    Worker second = startWorker(secondFiles, {"x.ini", "USER:S#ALLE"});
    platSleepMs(500);
    EXPECT_EQ(0, waitpid(second.pid, nullptr, WNOHANG)) << "still waiting for the name";
    kill(first.pid, SIGTERM);
    EXPECT_EQ(0, waitExit(first.pid));
    pipe = attach("S#ALLE");
    ASSERT_TRUE(platHandleOpen(pipe)) << "the second worker took the name";
    PlatHandle event = openEvent("S#ALLE");
    ASSERT_TRUE(platHandleOpen(event));
    EXPECT_EQ(PLAT_WAIT_SIGNALED, handOff(event, pipe, "5", GENEROUS_MS));
    platCloseHandle(event);
    platCloseHandle(pipe);
    EXPECT_EQ("DEV S#ALLE 5\n", readFile(second.out));

    Worker third = startWorker(thirdFiles, {"x.ini", "USER:S#ALLE"});
    platSleepMs(300);
    kill(third.pid, SIGTERM);
    EXPECT_EQ(0, waitExit(third.pid)) << "a stop ends the wait";
    kill(second.pid, SIGTERM);
    EXPECT_EQ(0, waitExit(second.pid));
}

TEST_F(WorkerTest, TestBehavioursApplyOnlyToTheNamedWorker) {
    std::vector<std::string> env = {"KVS_WORKER_NO_EVENT=1", "KVS_WORKER_ONLY=S#ALLE2"};
    Worker other = startWorker(files, {"x.ini", "USER:S#ALLE"}, env);
    TempDir secondFiles;
    Worker named = startWorker(secondFiles, {"x.ini", "USER:S#ALLE2"}, env);
    PlatHandle otherPipe = attach("S#ALLE");
    PlatHandle namedPipe = attach("S#ALLE2");
    ASSERT_TRUE(platHandleOpen(otherPipe));
    ASSERT_TRUE(platHandleOpen(namedPipe));
    PlatHandle otherEvent = openEvent("S#ALLE");
    EXPECT_TRUE(platHandleOpen(otherEvent));
    platCloseHandle(otherEvent);
    EXPECT_TRUE(eventGone("S#ALLE2"));
    platCloseHandle(otherPipe);
    platCloseHandle(namedPipe);
    kill(other.pid, SIGTERM);
    kill(named.pid, SIGTERM);
    EXPECT_EQ(0, waitExit(other.pid));
    EXPECT_EQ(0, waitExit(named.pid));
}

}  // namespace
