// Error texts, the clock and TCP sockets of the platform layer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/handle.h"
#include "platform/socket.h"

TEST(PlatErrors, SystemTextOneLineOrWithLineEnd) {
    char text[128];
    platErrorText(ENOENT, 1, text, sizeof text);
    EXPECT_STREQ("No such file or directory", text);
    platErrorText(ENOENT, 0, text, sizeof text);
    EXPECT_STREQ("No such file or directory\n", text);
}

TEST(PlatErrors, UnknownCodeHasNoInfoAndTextIsCutToSize) {
    char text[128];
    platErrorText(987654, 1, text, sizeof text);
    EXPECT_STREQ("No Info", text);
    platErrorText(0xFFFFFFFFu, 0, text, sizeof text);
    EXPECT_STREQ("No Info", text);
    char small[6];
    memset(small, 'x', sizeof small);
    platErrorText(ENOENT, 1, small, sizeof small);
    EXPECT_STREQ("No su", small);
}

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
    EXPECT_EQ(PLAT_WSAEADDRINUSE, platSockError());
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
    EXPECT_EQ(10009, platSockError());
}
