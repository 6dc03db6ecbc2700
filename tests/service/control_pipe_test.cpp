// The control pipe in this process, against a real client end of the pipe,
// with the log in a temporary installation.
#include "service/control_pipe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/pipe.h"
#include "tests/support/tempdir.h"

namespace {

const std::string PIPE = CONTROL_PIPE_NAME;
const size_t STAMP = 21;

// Log lines without their stamps, one entry per message.
std::string messages(const std::string &log) {
    std::string out;
    size_t at = 0;
    while (at + STAMP <= log.size()) {
        size_t end = log.find('\n', at);
        end = end == std::string::npos ? log.size() : end + 1;
        out += log.substr(at + STAMP, end - at - STAMP);
        at = end;
    }
    return out;
}

class ControlPipe : public testing::Test {
   protected:
    void SetUp() override {
        ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
        logDir_ = dir_.makeDir("korvantis_php/log");
        ASSERT_EQ(setenv("KVS_IPC_DIR", dir_.makeDir("ipc").c_str(), 1), 0);
        ASSERT_EQ(chdir(dir_.makeDir("work").c_str()), 0);
        ASSERT_EQ(openControlPipe(PIPE.c_str()), 1);
    }
    void TearDown() override {
        closeClient();
        ASSERT_EQ(chdir(saved_), 0);
    }
    std::string log() const { return messages(readFile(logDir_ + "/kvstgbstr.log")); }
    void attach() {
        int result = -1;
        client_ = platPipeOpen(PIPE.c_str(), &result);
        ASSERT_EQ(result, PLAT_PIPE_OK);
    }
    void send(const std::string &bytes) {
        size_t written = 0;
        ASSERT_EQ(platPipeWrite(client_, bytes.data(), bytes.size(), &written), PLAT_PIPE_OK);
        ASSERT_EQ(written, bytes.size());
    }
    void closeClient() {
        if (platHandleOpen(client_)) platCloseHandle(client_);
        client_ = PLAT_NO_HANDLE;
    }

    TempDir dir_;
    std::string logDir_;
    PlatHandle client_ = PLAT_NO_HANDLE;
    char saved_[4096];
};

TEST_F(ControlPipe, NoClientGoesOnSilently) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);
    EXPECT_EQ(log(), "");
}

TEST_F(ControlPipe, OnlyTheExactTextStops) {
    attach();
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);  // attached, nothing sent yet
    for (const char *ignored : {"*end", "*END\n", "*END ", "*ENDE", "END", "*PI"}) {
        send(ignored);
        EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1) << ignored;
    }
    EXPECT_EQ(log(), "");

    // Only the text up to the first NUL counts.
    send(std::string("*END\0xyz", 8));
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 0);
    EXPECT_EQ(log(), "Endenachricht aus Pipe \\\\.\\pipe\\KVSTGBSTR empfangen!\n");
}

TEST_F(ControlPipe, LongMessageIsReadTenBytesAtATime) {
    attach();
    send("0123456789*END");
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);  // "0123456789"
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 0);  // "*END"
}

TEST_F(ControlPipe, PidIsAnsweredWithTheSingleByteZero) {
    attach();
    send("*PID");
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);
    ASSERT_EQ(platPipeWaitReadable(client_, 10000), 1);
    char answer[16] = {0};
    size_t got = 0;
    ASSERT_EQ(platPipeRead(client_, answer, sizeof answer, &got), PLAT_PIPE_OK);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(answer[0], '0');
    EXPECT_EQ(log(), "");
}

TEST_F(ControlPipe, ClosedClientGivesOneLineAndANewInstance) {
    attach();
    send("*end");
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);
    closeClient();
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 1);
    EXPECT_EQ(log(), "Pipe \\\\.\\pipe\\KVSTGBSTR geschlossen. Neue Pipe wird erstellt!\n");

    // The new instance takes the next client, which is heard.
    attach();
    send("*END");
    EXPECT_EQ(pollControlPipe(PIPE.c_str()), 0);
}

TEST_F(ControlPipe, SecondServerCannotCreateTheName) {
    // The fixture's pipe stands for a running service; a second one must fail.
    std::string other = "\\\\.\\pipe\\KVSTGBSTR_ZWEI";
    PlatHandle first = platPipeCreate(other.c_str(), 1);
    ASSERT_TRUE(platHandleOpen(first));
    EXPECT_EQ(openControlPipe(other.c_str()), 0);
    // The system's text keeps its own line end, so the raw line is checked.
    std::string raw = readFile(logDir_ + "/kvstgbstr.log");
    ASSERT_GT(raw.size(), STAMP);
    std::string text = raw.substr(STAMP);
    std::string prefix = "Pipe " + other + " konnte nicht erstellt werden! Info: ";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    EXPECT_GT(text.size(), prefix.size() + 1);  // a reason, then the system's line end
    EXPECT_EQ(text.back(), '\n');
    platCloseHandle(first);
}

}  // namespace
