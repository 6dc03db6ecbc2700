// workTask without a worker program: the pipe name limit, and the wait of a
// task that shares its key with a worker played by the test.
#include "tasks/handoff.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/pipe.h"
#include "tests/support/tempdir.h"

namespace {

class HandOff : public ::testing::Test {
   protected:
    TempDir root;
    std::string logPath;
    TaskRecord task;

    void SetUp() override {
        std::string work = root.makeDir("work");
        logPath = root.makeDir("korvantis_php/log") + "/kvstgbstr.log";
        ASSERT_EQ(0, chdir(work.c_str()));
        setenv("KVS_IPC_DIR", root.makeDir("ipc").c_str(), 1);
        clearTaskRecord(&task);
    }

    void name(const std::string &key) {
        kvsCopy(task.JOBURV, key.c_str());
        kvsCopy(task.JOBUSR, key.c_str());
    }

    // The log without its time stamps.
    std::string log() {
        std::string text = readFile(logPath), plain;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end + 1;
            plain += text.substr(at + 21, end - at - 21);
            at = end;
        }
        return plain;
    }
};

TEST_F(HandOff, PipeNameLimit) {
    // 55 characters would not fit the 63-character path: refused, not cut.
    name(std::string(55, 'N'));
    EXPECT_EQ(0, workTask(&task));
    // 54 fit exactly; with no worker the event is missing.
    name(std::string(54, 'K'));
    EXPECT_EQ(0, workTask(&task));
    EXPECT_EQ("Pipename zu lang! Task: " + std::string(55, 'N') +
                  "\nBeginn workTask! Pipename: \\\\.\\pipe\\" + std::string(54, 'K') +
                  "\nOpenEvent: Fehler Event " + std::string(54, 'K') + "!\n",
              log());
    EXPECT_EQ(PLAT_NO_HANDLE, task.pipeHandle);
}

// A task whose own start failed (jobPid 0) but whose key a running worker
// serves: this test plays that worker. A worker that takes longer than one
// wait slice is still waited for; one whose end of the pipe closes ends the
// wait, and the connection goes with it.
class SharedKey : public HandOff {
   protected:
    PlatHandle event = PLAT_INVALID_HANDLE, pipe = PLAT_INVALID_HANDLE;

    void SetUp() override {
        HandOff::SetUp();
        name("ABC#KORR");
        task.parmKey = -17;
        event = platEventCreate("ABC#KORR", 0, 0);
        pipe = platPipeCreate("\\\\.\\pipe\\ABC#KORR", 1);
        ASSERT_TRUE(platHandleOpen(event));
        ASSERT_TRUE(platHandleOpen(pipe));
    }
    void TearDown() override {
        if (platHandleOpen(pipe)) platCloseHandle(pipe);
        platCloseHandle(event);
    }
    std::string received() {
        char digits[16] = {0};
        size_t got = 0;
        EXPECT_EQ(PLAT_PIPE_OK, platPipeRead(pipe, digits, sizeof digits - 1, &got));
        return std::string(digits, got);
    }
};

const char *const kHandedOver =
    "Beginn workTask! Pipename: \\\\.\\pipe\\ABC#KORR\n"
    "Pipe \\\\.\\pipe\\ABC#KORR open ok! Buffer: -17\n"
    "Message mit ParmKey an DEV gesendet: -17!\n";

TEST_F(SharedKey, SlowWorkerIsWaitedFor) {
    std::thread worker([this] {
        platSleepMs(2500);  // longer than two wait slices
        EXPECT_EQ("-17", received());
        platEventSet(event);
    });
    EXPECT_EQ(1, workTask(&task));
    worker.join();
    EXPECT_EQ(std::string(kHandedOver) + "Ende-Info vom DEV erhalten!\n", log());
    EXPECT_TRUE(platHandleOpen(task.pipeHandle));
    platCloseHandle(task.pipeHandle);
}

TEST_F(SharedKey, WorkerWhosePipeClosesEndsTheWait) {
    std::thread worker([this] {
        platSleepMs(1500);
        EXPECT_EQ("-17", received());
        platCloseHandle(pipe);
        pipe = PLAT_INVALID_HANDLE;
    });
    EXPECT_EQ(0, workTask(&task));
    worker.join();
    EXPECT_EQ(
        std::string(kHandedOver) + "Fehler WaitForSingleObject! Task: ABC#KORR Fehler: No Info\n",
        log());
    EXPECT_EQ(PLAT_INVALID_HANDLE, task.pipeHandle);
}

}  // namespace
