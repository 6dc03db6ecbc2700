// TCP sockets over Winsock 1.1.
#include "platform/socket.h"

// internal.h first: <winsock2.h> brings <windows.h>, which must see
// NOMINMAX and WIN32_LEAN_AND_MEAN.
#include "platform/win32/internal.h"
// clang-format off
#include <winsock2.h>
// clang-format on

#include "platform/signals.h"

// Waits are cut into slices so a stop request is seen within one of them;
// Winsock 1.1's select cannot wait on an event.
const int WAIT_SLICE_MS = 100;

// Kept apart from the thread's last error, which any later call may overwrite.
static thread_local int lastSockError = 0;

static int sockFail(int error) {
    lastSockError = error;
    WSASetLastError(error);
    return -1;
}

static int sockResult(int rc) {
    return rc == 0 ? 0 : sockFail(WSAGetLastError());
}

static SOCKET sock(PlatSocket s) {
    return static_cast<SOCKET>(s);
}

int platSockStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data);
}

int platSockError() {
    return lastSockError;
}

PlatSocket platSockTcp() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        sockFail(WSAGetLastError());
        return PLAT_NO_SOCKET;
    }
    // Children are started without inheritance; this says so for the socket too.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<PlatSocket>(s);
}

// SO_REUSEADDR as everywhere, so that a restart binds again while the
// connections of the previous run are still closing (exclusive use would
// refuse the port until they are gone). On Windows it also lets another
// listener share a port in use; a second service instance never gets that
// far, since it fails at its control pipe first.
int platSockReuseAddr(PlatSocket s) {
    int on = 1;
    return sockResult(setsockopt(sock(s), SOL_SOCKET, SO_REUSEADDR,
                                 reinterpret_cast<const char *>(&on), sizeof on));
}

int platSockBindAny(PlatSocket s, uint16_t port) {
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return sockResult(bind(sock(s), reinterpret_cast<struct sockaddr *>(&address), sizeof address));
}

int platSockListen(PlatSocket s, int backlog) {
    return sockResult(listen(sock(s), backlog));
}

int platSockLocalPort(PlatSocket s, uint16_t *port) {
    struct sockaddr_in address = {};
    int length = sizeof address;
    if (getsockname(sock(s), reinterpret_cast<struct sockaddr *>(&address), &length) != 0)
        return sockFail(WSAGetLastError());
    if (address.sin_family != AF_INET) return sockFail(WSAEAFNOSUPPORT);
    *port = ntohs(address.sin_port);
    return 0;
}

int platSockLinger(PlatSocket s, int on, int seconds) {
    struct linger value = {};
    value.l_onoff = static_cast<u_short>(on ? 1 : 0);
    value.l_linger = static_cast<u_short>(seconds < 0 ? 0 : seconds > 65535 ? 65535 : seconds);
    return sockResult(setsockopt(sock(s), SOL_SOCKET, SO_LINGER,
                                 reinterpret_cast<const char *>(&value), sizeof value));
}

int platSockConnect(PlatSocket s, const char *ipv4, uint16_t port) {
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ipv4 != nullptr ? inet_addr(ipv4) : INADDR_NONE;
    if (address.sin_addr.s_addr == INADDR_NONE) return sockFail(WSAEINVAL);
    return sockResult(
        connect(sock(s), reinterpret_cast<struct sockaddr *>(&address), sizeof address));
}

// One select of up to sliceMs: 1 ready, 0 not yet, -1 failure.
static int selectOnce(SOCKET s, int forWrite, int sliceMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;  // a failed connect shows here, not as writable
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    struct timeval limit = {sliceMs / 1000, (sliceMs % 1000) * 1000};
    // The first argument is ignored by Winsock; 64 is the size of its sets.
    int count = select(64, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &failed, &limit);
    if (count == SOCKET_ERROR) return sockFail(WSAGetLastError());
    return count > 0 ? 1 : 0;
}

// Winsock has no deferred accept: the receive limit alone bounds a silent client.
int platSockDeferAccept(PlatSocket, int) {
    return sockFail(WSAEOPNOTSUPP);
}

int platSockWait(PlatSocket s, int forWrite, int seconds, int stopEnds) {
    return platSockWaitMs(s, forWrite, seconds <= 0 ? 0 : static_cast<int64_t>(seconds) * 1000,
                          stopEnds);
}

int platSockWaitMs(PlatSocket s, int forWrite, int64_t ms, int stopEnds) {
    if (s == PLAT_NO_SOCKET) return sockFail(WSAENOTSOCK);
    int64_t limitMs = ms <= 0 ? 0 : ms;
    int64_t start = static_cast<int64_t>(GetTickCount64());
    for (;;) {
        if (stopEnds && platStopRequested()) return sockFail(WSAEINTR);
        int64_t left = limitMs - (static_cast<int64_t>(GetTickCount64()) - start);
        if (left < 0) left = 0;
        int result = selectOnce(sock(s), forWrite,
                                left < WAIT_SLICE_MS ? static_cast<int>(left) : WAIT_SLICE_MS);
        if (result != 0) return result;
        if (left <= WAIT_SLICE_MS) return stopEnds && platStopRequested() ? sockFail(WSAEINTR) : 0;
    }
}

PlatSocket platSockAccept(PlatSocket listener) {
    SOCKET s = accept(sock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        sockFail(WSAGetLastError());
        return PLAT_NO_SOCKET;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<PlatSocket>(s);
}

long platSockRecv(PlatSocket s, void *buf, size_t len) {
    int want = len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(len);
    int got = recv(sock(s), static_cast<char *>(buf), want, 0);
    return got == SOCKET_ERROR ? sockFail(WSAGetLastError()) : got;
}

long platSockSend(PlatSocket s, const void *buf, size_t len) {
    int want = len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(len);
    int sent = send(sock(s), static_cast<const char *>(buf), want, 0);
    return sent == SOCKET_ERROR ? sockFail(WSAGetLastError()) : sent;
}

int platSockClose(PlatSocket s) {
    if (s == PLAT_NO_SOCKET) return sockFail(WSAENOTSOCK);
    return closesocket(sock(s)) == 0 ? 0 : sockFail(WSAGetLastError());
}
