// The socket layer over real loopback TCP connections. The peer side is
// plain POSIX sockets, so only the layer under test is ours.
#include "net/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "net/port.h"
#include "tests/support/tcp_client.h"

namespace {

void sendAll(int fd, const std::string &bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
}

// A listener on a system-chosen port and one accepted connection.
class Connection : public testing::Test {
   protected:
    void SetUp() override {
        int32_t error = -1;
        listener_ = sockListen(&port_, &error);
        ASSERT_NE(listener_, nullptr) << error;
        peer_ = tcpConnectLoopback(port_);
        ASSERT_GE(peer_, 0);
        client_ = sockAccept(listener_, 10, &error);
        ASSERT_NE(client_, nullptr) << error;
    }
    void TearDown() override {
        if (peer_ >= 0) close(peer_);
        if (client_ != nullptr) {
            EXPECT_EQ(sockFree(client_), 0);
        }
        EXPECT_EQ(sockFree(listener_), 0);
    }
    // Waits until the bytes the peer sent are all in, so that a single poll sees them.
    void waitForBytes() { ASSERT_EQ(sockWaitReadable(client_->socket, 10), 1); }

    uint16_t port_ = 0;
    KVSocket *listener_ = nullptr;
    KVSocket *client_ = nullptr;
    int peer_ = -1;
    char buffer_[512];
};

TEST(SocketTag, EveryOperationRefusesAForeignPointer) {
    KVSocket fake;
    memset(&fake, 0x5A, sizeof fake);
    memcpy(fake.tag, "KVSockeX", 9);
    KVSocket before = fake;
    char buffer[16] = {0};
    EXPECT_EQ(sockRecv(&fake, buffer, sizeof buffer, 10), -1);
    EXPECT_EQ(sockSend(&fake, "x", 1, 1), -1);
    EXPECT_EQ(sockClose(&fake), SOCK_EINVAL);
    EXPECT_EQ(sockFree(&fake), SOCK_EINVAL);
    EXPECT_EQ(sockLastError(&fake), SOCK_EINVAL);
    EXPECT_EQ(sockSetTimeLimit(&fake, 5), SOCK_EINVAL);
    EXPECT_EQ(sockDeferAccept(&fake, 1), SOCK_EINVAL);
    EXPECT_EQ(memcmp(&fake, &before, sizeof fake), 0);

    // "KVSocket" without its terminating NUL is not the tag either.
    memcpy(fake.tag, "KVSocketX", 9);
    EXPECT_EQ(sockLastError(&fake), SOCK_EINVAL);
    EXPECT_EQ(sockLastError(nullptr), SOCK_EINVAL);
}

TEST(SocketListen, PortZeroReportsTheBoundPortAndAcceptTimesOutWithErrorZero) {
    uint16_t port = 0;
    int32_t error = -1;
    KVSocket *listener = sockListen(&port, &error);
    ASSERT_NE(listener, nullptr);
    EXPECT_NE(port, 0);
    EXPECT_EQ(sockLastError(listener), 0);

    error = -1;
    EXPECT_EQ(sockAccept(listener, 0, &error), nullptr);
    EXPECT_EQ(error, 0);

    // The port is really bound: a second listener on it fails and leaves nothing.
    uint16_t same = port;
    error = 0;
    EXPECT_EQ(sockListen(&same, &error), nullptr);
    EXPECT_EQ(error, PLAT_WSAEADDRINUSE);
    EXPECT_EQ(sockFree(listener), 0);
}

TEST(SocketListen, ClosedListenerMakesAcceptFail) {
    uint16_t port = 0;
    int32_t error = 0;
    KVSocket *listener = sockListen(&port, &error);
    ASSERT_NE(listener, nullptr);
    ASSERT_EQ(sockClose(listener), 0);
    error = 0;
    EXPECT_EQ(sockAccept(listener, 1, &error), nullptr);
    EXPECT_NE(error, 0);
    EXPECT_EQ(sockFree(listener), 0);
}

// With deferred accept a silent connection waits in the system, while one
// that has closed its side (kvsctl's wake-up) or has sent its request passes
// it. The silent one arrives once the system gives up, with nothing to read.
TEST(SocketListen, DeferredAcceptLetsClosedAndWritingConnectionsPassASilentOne) {
    uint16_t port = 0;
    int32_t error = -1;
    KVSocket *listener = sockListen(&port, &error);
    ASSERT_NE(listener, nullptr) << error;
    ASSERT_EQ(sockDeferAccept(listener, 1), 0);
    int silent = tcpConnectLoopback(port);
    int writer = tcpConnectLoopback(port);
    int wake = tcpConnectLoopback(port);
    ASSERT_GE(silent, 0);
    ASSERT_GE(writer, 0);
    ASSERT_GE(wake, 0);
    close(wake);

    char buffer[512];
    KVSocket *woken = sockAccept(listener, 10, &error);
    ASSERT_NE(woken, nullptr) << error;
    EXPECT_EQ(sockWaitReadable(woken->socket, 0), 1);  // its end is there: not the silent one
    EXPECT_EQ(sockRecv(woken, buffer, 512, 10), 0);
    sockFree(woken);

    sendAll(writer, "SCHEMA:ABC USER:ALLE PARM:1 END");
    KVSocket *served = sockAccept(listener, 10, &error);
    ASSERT_NE(served, nullptr) << error;
    ASSERT_EQ(sockSetTimeLimit(served, 1), 0);
    EXPECT_EQ(sockRecv(served, buffer, 512, 10), 31);
    sockFree(served);

    KVSocket *late = sockAccept(listener, 10, &error);
    ASSERT_NE(late, nullptr) << error;
    EXPECT_EQ(sockWaitReadable(late->socket, 0), 0);
    sockFree(late);
    close(silent);
    close(writer);
    EXPECT_EQ(sockFree(listener), 0);
}

TEST_F(Connection, FreshHandleReceivesNothingAtOnceWithoutError) {
    EXPECT_EQ(client_->timeLimit, 0);
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), 0);
    EXPECT_EQ(sockLastError(client_), 0);
}

TEST_F(Connection, ReceiveTakesAtMostTheLengthWhateverTheStopCount) {
    sendAll(peer_, std::string(600, 'r'));
    waitForBytes();
    // With time limit 0 a single receive takes what is there, up to the length.
    int got = sockRecv(client_, buffer_, 512, 10);
    if (got < 512) got += sockRecv(client_, buffer_ + got, 512 - got, 10);  // split by the kernel
    EXPECT_EQ(got, 512);
    waitForBytes();
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), 88);
}

TEST_F(Connection, FewBytesAreReturnedAsTheyAre) {
    sendAll(peer_, "abc");
    waitForBytes();
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), 3);
    EXPECT_EQ(memcmp(buffer_, "abc", 3), 0);
}

// With a time limit, a peer that hangs up ends the receive at once: nothing
// more can arrive. (A receive that kept waiting would run into the test's
// time-out long before its own hour.)
TEST_F(Connection, PeerThatClosesEndsATimedReceive) {
    ASSERT_EQ(sockSetTimeLimit(client_, 3600), 0);
    close(peer_);
    peer_ = -1;
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), 0);
    EXPECT_EQ(sockLastError(client_), 0);
}

TEST_F(Connection, PeerThatClosesAfterAFewBytesYieldsThem) {
    ASSERT_EQ(sockSetTimeLimit(client_, 3600), 0);
    sendAll(peer_, "SCHEM");
    close(peer_);
    peer_ = -1;
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), 5);
    EXPECT_EQ(memcmp(buffer_, "SCHEM", 5), 0);
}

// The service's receive limit: a request that is late and comes in pieces
// shorter than the stop count is collected until the stop count is reached.
TEST_F(Connection, LateRequestInPiecesIsCollectedWithinTheTimeLimit) {
    ASSERT_EQ(sockSetTimeLimit(client_, 3600), 0);
    std::thread peer([this] {
        usleep(300 * 1000);
        sendAll(peer_, "SCH");
        usleep(100 * 1000);
        sendAll(peer_, "EMA:ABC USER:ALLE PARM:1 END");
    });
    int got = sockRecv(client_, buffer_, 512, 10);
    peer.join();
    ASSERT_GE(got, 10);
    EXPECT_EQ(std::string(buffer_, 10), "SCHEMA:ABC");
}

TEST_F(Connection, SendWithWaitReturnsTheLength) {
    char block[512];
    memset(block, 0, sizeof block);
    memcpy(block, "OK:4711 END", 11);
    EXPECT_EQ(sockSend(client_, block, 512, 1), 512);
    EXPECT_EQ(sockSend(client_, block, 512, 0), 512);
    char in[1024];
    size_t total = 0;
    while (total < 1024) {
        ssize_t got = recv(peer_, in + total, sizeof in - total, 0);
        ASSERT_GT(got, 0);
        total += static_cast<size_t>(got);
    }
    EXPECT_EQ(memcmp(in, block, 512), 0);
}

TEST_F(Connection, ResetByPeerClosesTheSocketAndKeepsTheHandle) {
    linger hard{1, 0};  // closing with linger 0 sends a reset
    setsockopt(peer_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(peer_);
    peer_ = -1;
    waitForBytes();
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), -1);
    EXPECT_EQ(sockLastError(client_), PLAT_WSAECONNRESET);
    EXPECT_EQ(client_->socket, PLAT_NO_SOCKET);

    // A handle without a socket stays valid and answers 10022.
    EXPECT_EQ(sockRecv(client_, buffer_, 512, 10), -1);
    EXPECT_EQ(sockSend(client_, "x", 1, 0), -1);
    EXPECT_EQ(sockLastError(client_), SOCK_EINVAL);
}

TEST_F(Connection, CloseTwiceIsHarmless) {
    EXPECT_EQ(sockClose(client_), 0);
    EXPECT_EQ(sockClose(client_), 0);
    EXPECT_EQ(sockLastError(client_), 0);
}

TEST(Port, OnlyPlainDecimalPortsAreAccepted) {
    uint16_t port = 7;
    EXPECT_EQ(parsePort("3339", &port), 1);
    EXPECT_EQ(port, 3339);
    EXPECT_EQ(parsePort("65535", &port), 1);
    EXPECT_EQ(parsePort("1", &port), 1);
    for (const char *bad :
         {"", "0", "65536", "-1", "+80", " 80", "80 ", "80x", "0x50", "99999999999999999999"}) {
        port = 7;
        EXPECT_EQ(parsePort(bad, &port), 0) << bad;
        EXPECT_EQ(port, 7) << bad;
    }
    EXPECT_EQ(parsePort(nullptr, &port), 0);
}

TEST(Port, EnvironmentOverridesTheDefaultOnlyWhenValid) {
    const char *rejected = "x";
    unsetenv(PORT_ENV_NAME);
    EXPECT_EQ(portFromEnvironment(3339, &rejected), 3339);
    EXPECT_EQ(rejected, nullptr);
    setenv(PORT_ENV_NAME, "4444", 1);
    EXPECT_EQ(portFromEnvironment(3339, &rejected), 4444);
    EXPECT_EQ(rejected, nullptr);
    setenv(PORT_ENV_NAME, "70000", 1);
    EXPECT_EQ(portFromEnvironment(3339, &rejected), 3339);
    EXPECT_STREQ(rejected, "70000");
    unsetenv(PORT_ENV_NAME);
}

}  // namespace
