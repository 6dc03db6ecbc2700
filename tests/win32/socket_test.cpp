// TCP sockets over Winsock, on the loopback address.
#include "platform/socket.h"

#include <cstring>

#include "tests/win32/runner.h"

static PlatSocket listener(uint16_t *port) {
    PlatSocket s = platSockTcp();
    CHECK(s != PLAT_NO_SOCKET);
    CHECK_EQ(platSockReuseAddr(s), 0);
    CHECK_EQ(platSockBindAny(s, *port), 0);
    CHECK_EQ(platSockListen(s, 5), 0);
    CHECK_EQ(platSockLocalPort(s, port), 0);
    return s;
}

WIN_TEST(requestAndReplyOverLoopback) {
    CHECK_EQ(platSockStartup(), 0);
    uint16_t port = 0;
    PlatSocket server = listener(&port);
    CHECK(port != 0);
    CHECK_EQ(platSockWait(server, 0, 0, 1), 0);  // a single look: nobody yet

    PlatSocket client = platSockTcp();
    CHECK_EQ(platSockConnect(client, "127.0.0.1", port), 0);
    CHECK_EQ(platSockWait(server, 0, 5, 1), 1);
    PlatSocket accepted = platSockAccept(server);
    CHECK(accepted != PLAT_NO_SOCKET);
    CHECK_EQ(platSockLinger(accepted, 1, 10), 0);
    const char request[] = "SCHEMA:ABC USER:ALLE PARM:4711 END";
    CHECK_EQ(platSockSend(client, request, sizeof request - 1),
             static_cast<long>(sizeof request - 1));
    char buf[64] = {};
    CHECK_EQ(platSockWait(accepted, 0, 5, 1), 1);
    long got = platSockRecv(accepted, buf, sizeof buf - 1);
    CHECK(got > 0 && strncmp(buf, request, static_cast<size_t>(got)) == 0);
    CHECK_EQ(platSockClose(client), 0);
    CHECK_EQ(platSockWait(accepted, 0, 5, 1), 1);
    CHECK_EQ(platSockRecv(accepted, buf, sizeof buf), 0);  // orderly end
    platSockClose(accepted);
    platSockClose(server);
}

WIN_TEST(portInUseAndRefusedConnectionGiveWinsockCodes) {
    CHECK_EQ(platSockStartup(), 0);
    uint16_t port = 0;
    PlatSocket first = listener(&port);
    PlatSocket second = platSockTcp();
    platSockReuseAddr(second);
    CHECK_EQ(platSockBindAny(second, port), -1);
    // Exclusive use refuses the port with "access denied" (WSAEACCES, 10013).
    CHECK(platSockError() == PLAT_WSAEADDRINUSE || platSockError() == 10013);
    platSockClose(second);
    platSockClose(first);

    PlatSocket client = platSockTcp();
    CHECK_EQ(platSockConnect(client, "127.0.0.1", port), -1);
    CHECK_EQ(platSockError(), PLAT_WSAECONNREFUSED);
    CHECK_EQ(platSockConnect(client, "not an address", port), -1);
    CHECK_EQ(platSockError(), PLAT_WSAEINVAL);
    platSockClose(client);
    CHECK_EQ(platSockClose(PLAT_NO_SOCKET), -1);
}
