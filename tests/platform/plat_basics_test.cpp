// Error texts, the clock, TCP sockets and file opening of the platform layer.
// The error texts, which differ by system, are in plat_basics_posix_test.cpp
// and plat_basics_win32_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/socket.h"
#include "tests/support/tempdir.h"
TEST(PlatClock, LocalTimeFieldsInRange) {
    PlatLocalTime now;
    platLocalTime(&now);
    EXPECT_GE(now.year, 2020);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.hour >= 0 && now.hour <= 23 && now.minute >= 0 && now.minute <= 59);
    EXPECT_TRUE(now.second >= 0 && now.second <= 59);
    int64_t before = platMonotonicMs();
    platSleepMs(20);
    EXPECT_GE(platMonotonicMs() - before, 20);
}

// A listener on a port chosen by the system.
static PlatSocket listenAny(uint16_t *port) {
    PlatSocket s = platSockTcp();
    EXPECT_NE(PLAT_NO_SOCKET, s);
    EXPECT_EQ(0, platSockReuseAddr(s));
    EXPECT_EQ(0, platSockBindAny(s, 0));
    EXPECT_EQ(0, platSockListen(s, 0x7FFFFFFF));
    EXPECT_EQ(0, platSockLocalPort(s, port));
    return s;
}

TEST(PlatSockets, PortInUseGivesAddressInUse) {
    ASSERT_EQ(0, platSockStartup());
    uint16_t port = 0;
    PlatSocket first = listenAny(&port);
    ASSERT_NE(0, port);
    PlatSocket second = platSockTcp();
    ASSERT_EQ(0, platSockReuseAddr(second));
    EXPECT_EQ(-1, platSockBindAny(second, port));
    // Windows holds the listener's port for exclusive use and refuses it as
    // access denied (WSAEACCES).
    EXPECT_TRUE(platSockError() == PLAT_WSAEADDRINUSE || platSockError() == 10013)
        << platSockError();
    EXPECT_EQ(0, platSockClose(second));
    EXPECT_EQ(0, platSockClose(first));
}

TEST(PlatSockets, ConnectAcceptExchangeAndOrderlyClose) {
    uint16_t port = 0;
    PlatSocket listener = listenAny(&port);
    EXPECT_EQ(0, platSockWait(listener, 0, 0, 1));  // nobody yet: a single poll
    PlatSocket client = platSockTcp();
    ASSERT_EQ(0, platSockConnect(client, "127.0.0.1", port));
    ASSERT_EQ(1, platSockWait(listener, 0, 10, 1));
    PlatSocket served = platSockAccept(listener);
    ASSERT_NE(PLAT_NO_SOCKET, served);
    EXPECT_EQ(0, platSockLinger(served, 1, 10));

    EXPECT_EQ(0, platSockWait(served, 0, 0, 1));
    EXPECT_EQ(5, platSockSend(client, "hello", 5));
    ASSERT_EQ(1, platSockWait(served, 0, 10, 1));
    char buf[16] = {};
    EXPECT_EQ(5, platSockRecv(served, buf, sizeof buf));
    EXPECT_STREQ("hello", buf);
    EXPECT_EQ(1, platSockWait(served, 1, 0, 1));

    EXPECT_EQ(0, platSockClose(client));
    ASSERT_EQ(1, platSockWait(served, 0, 10, 1));
    EXPECT_EQ(0, platSockRecv(served, buf, sizeof buf));
    // Sending into a connection the peer has reset must not raise SIGPIPE.
    long sent = 0;
    for (int i = 0; i < 100 && sent >= 0; i++) sent = platSockSend(served, buf, sizeof buf);
    EXPECT_EQ(-1, sent);
    EXPECT_TRUE(platSockError() == PLAT_WSAECONNRESET || platSockError() == 10058);
    EXPECT_EQ(0, platSockClose(served));
    EXPECT_EQ(0, platSockClose(listener));
}

TEST(PlatSockets, RefusedAndBadSocketsGiveWinsockCodes) {
    uint16_t port = 0;
    PlatSocket listener = listenAny(&port);
    EXPECT_EQ(0, platSockClose(listener));  // the port is free again: nobody listens
    PlatSocket client = platSockTcp();
    EXPECT_EQ(-1, platSockConnect(client, "127.0.0.1", port));
    EXPECT_EQ(PLAT_WSAECONNREFUSED, platSockError());
    EXPECT_EQ(-1, platSockConnect(client, "not an address", port));
    EXPECT_EQ(PLAT_WSAEINVAL, platSockError());
    EXPECT_EQ(0, platSockClose(client));

    EXPECT_EQ(-1, platSockWait(PLAT_NO_SOCKET, 0, 0, 1));
    EXPECT_EQ(10038, platSockError());
    char buf[4];
    EXPECT_EQ(-1, platSockRecv(PLAT_NO_SOCKET, buf, sizeof buf));
    // No socket at all: a bad descriptor (WSAEBADF) on POSIX, not a socket
    // (WSAENOTSOCK) on Windows.
    EXPECT_TRUE(platSockError() == 10009 || platSockError() == 10038) << platSockError();
}

TEST(PlatHandles, ClosingAHandleThatIsNotOpenFails) {
    EXPECT_NE(0, platCloseHandle(PLAT_NO_HANDLE));
    EXPECT_NE(0, platCloseHandle(PLAT_INVALID_HANDLE));
    EXPECT_NE(0u, platLastError());
}

// Only a regular file is opened for reading; a directory is told apart from
// a failed open, which leaves the system's code.
TEST(PlatFiles, OnlyARegularFileIsOpenedForReading) {
    TempDir dir;
    std::string path = dir.file("plain.ini");
    ASSERT_EQ(0, platWritePrivateFile(path.c_str(), "1;LOGIN;\n", 9));
    int kind = -1;
    FILE *file = platOpenRegularFile(path.c_str(), &kind);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(PLAT_FILE_REGULAR, kind);
    char line[16] = {0};
    EXPECT_NE(nullptr, fgets(line, sizeof line, file));
    EXPECT_STREQ("1;LOGIN;\n", line);
    fclose(file);

    EXPECT_EQ(nullptr, platOpenRegularFile(dir.path().c_str(), &kind));
    EXPECT_EQ(PLAT_FILE_DIRECTORY, kind);
    EXPECT_EQ(nullptr, platOpenRegularFile(dir.file("missing.ini").c_str(), &kind));
    EXPECT_EQ(PLAT_FILE_OPEN_FAILED, kind);
    EXPECT_NE(0u, platLastError());
}
