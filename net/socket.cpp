#include "net/socket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "platform/clock.h"

enum {
    SOCK_BACKLOG = 2147483647,  // SOMAXCONN: the system clamps it to its own maximum
    SOCK_LINGER_SECONDS = 10,
};

// The socket library is started with the first handle and never shut down.
static int s_started = 0;

static int tagOk(const KVSocket *handle) {
    return handle != nullptr && strcmp(handle->tag, KVSOCKET_TAG) == 0;
}

// Deadlines are kept on a monotonic clock in milliseconds: they must not move
// with the wall clock, and whole seconds would make a limit of one second
// anything between none and two.
static int64_t nowMs() {
    return platMonotonicMs();
}

// A failed receive or send leaves the connection unusable: remember why and
// close it, so it is never used again.
static void failAndClose(KVSocket *handle, int32_t error) {
    handle->lastError = error;
    platSockClose(handle->socket);
    handle->socket = PLAT_NO_SOCKET;
}

KVSocket *sockNew(int32_t *error) {
    KVSocket *handle = static_cast<KVSocket *>(calloc(1, sizeof(KVSocket)));
    if (handle == nullptr) {
        *error = errno;
        return nullptr;
    }
    kvsCopy(handle->tag, KVSOCKET_TAG);
    handle->socket = PLAT_NO_SOCKET;
    if (!s_started) {
        int rc = platSockStartup();
        if (rc != 0) {
            free(handle);
            *error = rc;
            return nullptr;
        }
        s_started = 1;
    }
    return handle;
}

// Steps 2 to 6 of opening a listener; 0 or the failing call's code.
static int32_t bindAndListen(KVSocket *handle, uint16_t *port) {
    handle->socket = platSockTcp();
    if (handle->socket == PLAT_NO_SOCKET) return platSockError();
    if (platSockReuseAddr(handle->socket) != 0) return platSockError();
    if (platSockBindAny(handle->socket, *port) != 0) return platSockError();
    if (platSockListen(handle->socket, SOCK_BACKLOG) != 0) return platSockError();
    if (platSockLocalPort(handle->socket, port) != 0) return platSockError();
    return 0;
}

KVSocket *sockListen(uint16_t *port, int32_t *error) {
    KVSocket *handle = sockNew(error);
    if (handle == nullptr) return nullptr;
    int32_t rc = bindAndListen(handle, port);
    if (rc != 0) {
        *error = rc;
        sockFree(handle);
        return nullptr;
    }
    return handle;
}

int sockDeferAccept(KVSocket *listener, int seconds) {
    if (!tagOk(listener)) return SOCK_EINVAL;
    if (listener->socket == PLAT_NO_SOCKET) return SOCK_EINVAL;
    return platSockDeferAccept(listener->socket, seconds) == 0 ? 0 : platSockError();
}

int sockWaitReadable(PlatSocket s, int seconds) {
    return platSockWait(s, 0, seconds, 1) > 0 ? 1 : 0;
}

KVSocket *sockAccept(KVSocket *listener, int seconds, int32_t *error) {
    // A stop signal ends the wait for the next client at once.
    int ready = platSockWait(listener->socket, 0, seconds, 1);
    if (ready <= 0) {
        *error = ready == 0 ? 0 : platSockError();
        return nullptr;
    }
    PlatSocket accepted = platSockAccept(listener->socket);
    if (accepted == PLAT_NO_SOCKET) {
        *error = platSockError();
        return nullptr;
    }
    KVSocket *client = sockNew(error);
    if (client == nullptr) {
        platSockClose(accepted);
        return nullptr;
    }
    client->socket = accepted;
    if (platSockLinger(accepted, 1, SOCK_LINGER_SECONDS) != 0) {
        *error = platSockError();
        sockFree(client);
        return nullptr;
    }
    return client;
}

int sockRecv(KVSocket *handle, char *buffer, int length, int stopCount) {
    if (!tagOk(handle)) return -1;
    if (handle->socket == PLAT_NO_SOCKET) {
        handle->lastError = SOCK_EINVAL;
        return -1;
    }
    if (length < stopCount) stopCount = length;
    int received = 0;
    int64_t deadline = nowMs() + static_cast<int64_t>(handle->timeLimit) * 1000;
    for (;;) {
        int64_t left = deadline - nowMs();
        // A client already taken is served to its end, also after a stop
        // signal: this wait is bounded by the handle's time limit.
        int ready = platSockWaitMs(handle->socket, 0, left > 0 ? left : 0, 0);
        if (ready == 0) return 0;
        if (ready < 0) {
            failAndClose(handle, platSockError());
            return -1;
        }
        long got =
            platSockRecv(handle->socket, buffer + received, static_cast<size_t>(length - received));
        if (got < 0) {
            failAndClose(handle, platSockError());
            return -1;
        }
        // Once the peer has shut down its side nothing more can arrive:
        // waiting on would only spin on the same end of stream until the deadline.
        if (got == 0) return received;
        received += static_cast<int>(got);
        if (received >= stopCount || nowMs() >= deadline) return received;
    }
}

int sockSend(KVSocket *handle, const char *data, int length, int waitFlag) {
    if (!tagOk(handle)) return -1;
    if (handle->socket == PLAT_NO_SOCKET) {
        handle->lastError = SOCK_EINVAL;
        return -1;
    }
    long sent = platSockSend(handle->socket, data, static_cast<size_t>(length));
    if (sent < 0) {
        failAndClose(handle, platSockError());
        return -1;
    }
    if (!waitFlag) return static_cast<int>(sent);
    int ready = platSockWait(handle->socket, 1, handle->timeLimit, 0);
    if (ready == 0) {
        failAndClose(handle, SOCK_ETIMEDOUT_SEND);
        return 0;
    }
    if (ready < 0) {
        failAndClose(handle, platSockError());
        return -1;
    }
    return length;
}

int sockClose(KVSocket *handle) {
    if (!tagOk(handle)) return SOCK_EINVAL;
    if (handle->socket == PLAT_NO_SOCKET) return 0;
    int result = 0;
    if (platSockClose(handle->socket) != 0) {
        result = platSockError();
        handle->lastError = result;
    }
    handle->socket = PLAT_NO_SOCKET;
    return result;
}

int sockFree(KVSocket *handle) {
    if (!tagOk(handle)) return SOCK_EINVAL;
    sockClose(handle);
    // A stale pointer to freed memory must not pass the tag check by luck.
    handle->tag[0] = '\0';
    free(handle);
    return 0;
}

int sockLastError(KVSocket *handle) {
    if (!tagOk(handle)) return SOCK_EINVAL;
    return handle->lastError;
}

int sockSetTimeLimit(KVSocket *handle, int seconds) {
    if (!tagOk(handle)) return SOCK_EINVAL;
    handle->timeLimit = seconds < 0 ? 0 : seconds;
    return 0;
}
