// The socket handle layer that carries the request server: a TCP listener,
// one accepted client at a time, a receive with a stop count and a time
// limit, and a send that can wait until the socket is writable. Failures are
// recorded in the handle as Winsock error codes and handed back as integers;
// this layer writes no messages.
#pragma once

#include <cstdint>

#include "platform/socket.h"

#define KVSOCKET_TAG "KVSocket"

struct KVSocket {
    char tag[9];             // "KVSocket": proves a pointer designates a live handle
    PlatSocket socket;       // PLAT_NO_SOCKET when the handle holds none
    int32_t lastError;       // Winsock code of the last failure, 0 until one happens
    uint32_t remoteAddress;  // outgoing connections only: never used here
    char remoteAddressText[16];
    char remoteHostName[256];
    uint16_t remotePort;
    int32_t timeLimit;  // seconds, for sockRecv and the writability wait of sockSend
};

static_assert(sizeof(KVSOCKET_TAG) == 9, "the tag is 8 characters and its NUL");

// Error codes of this layer's own.
enum { SOCK_EINVAL = PLAT_WSAEINVAL, SOCK_ETIMEDOUT_SEND = PLAT_WSAECONNABORTED };

// A new zeroed handle without a socket, or nullptr with *error set.
KVSocket *sockNew(int32_t *error);

// Listens on *port (0: the system chooses) on every IPv4 address; *port
// receives the bound port. nullptr with *error set on failure.
KVSocket *sockListen(uint16_t *port, int32_t *error);

// Lets a connection reach sockAccept only once it has sent something or
// closed its side, or has been silent for about seconds. 0, SOCK_EINVAL, or
// the system's code (PLAT_WSAEOPNOTSUPP where there is no such option).
int sockDeferAccept(KVSocket *listener, int seconds);

// 1 when s is readable within seconds, 0 otherwise (time-out or failure).
int sockWaitReadable(PlatSocket s, int seconds);

// Waits up to seconds for a client. nullptr with *error 0 on a time-out, or
// with the Winsock error of the failing call.
KVSocket *sockAccept(KVSocket *listener, int seconds, int32_t *error);

// Receives until stopCount bytes are in or the time limit has passed.
// Bytes received (> 0), 0 on time-out, -1 on failure (the socket is closed).
int sockRecv(KVSocket *handle, char *buffer, int length, int stopCount);

// Sends length bytes; waitFlag != 0 then waits (time limit) until writable.
// length or bytes sent, 0 when the writability wait timed out, -1 on failure.
int sockSend(KVSocket *handle, const char *data, int length, int waitFlag);

int sockClose(KVSocket *handle);      // 0 or an error code
int sockFree(KVSocket *handle);       // 0 or SOCK_EINVAL; the handle is gone
int sockLastError(KVSocket *handle);  // the handle's last error, or SOCK_EINVAL

// Sets the time limit of sockRecv and of sockSend's writability wait.
int sockSetTimeLimit(KVSocket *handle, int seconds);
