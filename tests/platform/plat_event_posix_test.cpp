// Named events, as POSIX builds them: the files that stand for them in the
// IPC directory, the errno codes, and a killed holder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/ipc_dir.h"
#include "tests/platform/child_process.h"
#include "tests/platform/ipc_fixture.h"

namespace {
class EventPosixTest : public IpcTest {};
}  // namespace
TEST_F(EventPosixTest, NameDisappearsWithTheLastHandle) {
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventOpen("ABC#ALLE2"));
    EXPECT_EQ(static_cast<uint32_t>(ENOENT), platLastError());
    PlatHandle created = platEventCreate("ABC#ALLE2", 0, 0);
    PlatHandle opened = platEventOpen("ABC#ALLE2");
    ASSERT_TRUE(platHandleOpen(opened));
    EXPECT_EQ(0, platCloseHandle(created));
    EXPECT_TRUE(ipcFileExists("e.ABC#ALLE2"));  // still held through opened
    EXPECT_EQ(0, platEventSet(opened));
    EXPECT_EQ(0, platCloseHandle(opened));
    EXPECT_FALSE(ipcFileExists("e.ABC#ALLE2"));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventOpen("ABC#ALLE2"));
    // A closed handle and an empty name are refused.
    EXPECT_NE(0, platEventSet(opened));
    EXPECT_EQ(PLAT_WAIT_FAILED, platEventWait(opened, 0));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventCreate("", 0, 0));
}

// A directory removed under a running service (a clean-up of /tmp, say) is
// made again by the next object that needs it.
TEST_F(EventPosixTest, RemovedDirectoryIsMadeAgain) {
    PlatHandle first = platEventCreate("KEY#ALLE", 0, 0);
    ASSERT_TRUE(platHandleOpen(first));
    EXPECT_EQ(0, platCloseHandle(first));
    std::filesystem::remove_all(ipcDir());
    PlatHandle again = platEventCreate("KEY#ALLE", 0, 0);
    ASSERT_TRUE(platHandleOpen(again));
    EXPECT_TRUE(ipcFileExists("e.KEY#ALLE"));
    EXPECT_EQ(0, platCloseHandle(again));
}

// Without KVS_IPC_DIR the objects live in a directory below /tmp that only
// this user can enter.
TEST(IpcDirectory, DefaultIsPrivateToTheUser) {
    unsetenv("KVS_IPC_DIR");
    std::string name = "plat-test-" + std::to_string(getpid());
    PlatHandle event = platEventCreate(name.c_str(), 1, 0);
    ASSERT_TRUE(platHandleOpen(event));
    struct stat info = {};
    std::string dir = "/tmp/kvstgbstr-" + std::to_string(geteuid());
    ASSERT_EQ(0, lstat(dir.c_str(), &info));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(geteuid(), info.st_uid);
    EXPECT_EQ(0u, info.st_mode & 077);
    EXPECT_EQ(0, platCloseHandle(event));
    EXPECT_NE(0, access((dir + "/e." + name).c_str(), F_OK));
}

// Openers and their closes race the creator's close, which is the last one
// whenever no opener holds the event at that moment. An opener either fails
// or holds the name's own live event; one that held a removed file would
// find the name missing while holding it (nobody creates it anew here).
TEST_F(EventPosixTest, OpenersRacingTheLastCloseNeverHoldARemovedEvent) {
    const int OPENERS = 4, ROUNDS = 200, OPENS = 50;
    for (int round = 0; round < ROUNDS; round++) {
        PlatHandle created = platEventCreate("race", 1, 1);
        ASSERT_TRUE(platHandleOpen(created));
        std::atomic<int> opened{0}, orphans{0};
        std::vector<std::thread> openers;
        for (int t = 0; t < OPENERS; t++) {
            openers.emplace_back([&] {
                for (int i = 0; i < OPENS; i++) {
                    PlatHandle event = platEventOpen("race");
                    if (!platHandleOpen(event)) continue;  // after the last close
                    opened++;
                    if (!ipcFileExists("e.race") || platEventWait(event, 0) != PLAT_WAIT_SIGNALED)
                        orphans++;
                    EXPECT_EQ(0, platCloseHandle(event));
                }
            });
        }
        // The close falls at a different point of the openers' run each round.
        while (opened.load() < 1 + round % (OPENERS * OPENS / 2)) std::this_thread::yield();
        EXPECT_EQ(0, platCloseHandle(created));
        for (std::thread &opener : openers) opener.join();
        ASSERT_EQ(0, orphans.load()) << "round " << round;
        ASSERT_FALSE(ipcFileExists("e.race")) << "round " << round;
        EXPECT_EQ(PLAT_INVALID_HANDLE, platEventOpen("race"));
    }
}

// A configured directory is checked like the default one: a symbolic link or
// a directory others may enter is refused with a line that names it, and
// every object in it fails until the directory is mended.
TEST_F(EventPosixTest, UnsafeConfiguredDirectoryIsRefused) {
    std::string real = tempFile("real"), link = tempFile("link");
    ASSERT_EQ(0, mkdir(real.c_str(), 0700));
    ASSERT_EQ(0, symlink(real.c_str(), link.c_str()));
    setenv("KVS_IPC_DIR", link.c_str(), 1);
    char problem[PLAT_IPC_PROBLEM_SIZE];
    EXPECT_EQ(EACCES, platIpcDirCheck(problem, sizeof problem));
    std::string wanted = "; verlangt: ein Verzeichnis des Benutzers " + std::to_string(geteuid()) +
                         " ohne Zugriff f\xFCr Gruppe und andere (0700)\n";
    EXPECT_EQ("IPC-Verzeichnis " + link + " abgelehnt: ein symbolischer Link" + wanted,
              std::string(problem));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventCreate("ABC#ALLE2", 0, 0));

    setenv("KVS_IPC_DIR", real.c_str(), 1);
    ASSERT_EQ(0, chmod(real.c_str(), 0750));
    EXPECT_EQ(EACCES, platIpcDirCheck(problem, sizeof problem));
    EXPECT_EQ("IPC-Verzeichnis " + real + " abgelehnt: Besitzer " + std::to_string(geteuid()) +
                  ", Modus 0750" + wanted,
              std::string(problem));
    EXPECT_EQ(PLAT_INVALID_HANDLE, platEventCreate("ABC#ALLE2", 0, 0));
    EXPECT_EQ(static_cast<uint32_t>(EACCES), platLastError());

    ASSERT_EQ(0, chmod(real.c_str(), 0700));
    PlatHandle event = platEventCreate("ABC#ALLE2", 0, 0);
    EXPECT_TRUE(platHandleOpen(event));
    EXPECT_EQ(0, platCloseHandle(event));
}
