// TCP sockets with Winsock semantics on every platform.
//
// Failures are reported as Winsock error codes (WSAE...): on POSIX one table
// maps errno onto them, so messages carry the same numbers everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

typedef intptr_t PlatSocket;
const PlatSocket PLAT_NO_SOCKET = -1;  // INVALID_SOCKET

enum {
    PLAT_WSAEINTR = 10004,
    PLAT_WSAEINVAL = 10022,
    PLAT_WSAEADDRINUSE = 10048,
    PLAT_WSAEOPNOTSUPP = 10045,
    PLAT_WSAECONNABORTED = 10053,
    PLAT_WSAECONNRESET = 10054,
    PLAT_WSAECONNREFUSED = 10061,
};

// Starts the socket library (Winsock version 1.1). 0 or an error code.
int platSockStartup();

// The Winsock error code of the last failing socket call.
int platSockError();

// Each returns 0 on success and -1 on failure (platSockError() tells why),
// unless said otherwise.
PlatSocket platSockTcp();  // PLAT_NO_SOCKET on failure
int platSockReuseAddr(PlatSocket s);
int platSockBindAny(PlatSocket s, uint16_t port);
int platSockListen(PlatSocket s, int backlog);
int platSockLocalPort(PlatSocket s, uint16_t *port);
int platSockLinger(PlatSocket s, int on, int seconds);
int platSockConnect(PlatSocket s, const char *ipv4, uint16_t port);

// Deferred accept on a listener: a connection reaches accept only once its
// first bytes or its end (the peer's close) have arrived, or after about
// seconds of silence, when the system gives up waiting. PLAT_WSAEOPNOTSUPP
// where the system has no such option (Windows).
int platSockDeferAccept(PlatSocket s, int seconds);

// Waits up to seconds (0: a single poll) until s is readable (forWrite 0) or
// writable (forWrite 1). 1 ready, 0 time-out, -1 failure. stopEnds != 0: a
// stop signal (platform/signals.h) ends the wait as a failure with
// PLAT_WSAEINTR, the running wait and every later one; stopEnds 0: the wait
// runs its time, whatever arrives.
int platSockWait(PlatSocket s, int forWrite, int seconds, int stopEnds);
// The same with a limit in milliseconds.
int platSockWaitMs(PlatSocket s, int forWrite, int64_t ms, int stopEnds);

PlatSocket platSockAccept(PlatSocket listener);  // PLAT_NO_SOCKET on failure

// Byte counts, 0 for an orderly shut-down by the peer (recv), -1 on failure.
long platSockRecv(PlatSocket s, void *buf, size_t len);
long platSockSend(PlatSocket s, const void *buf, size_t len);

int platSockClose(PlatSocket s);
