// TCP sockets over BSD sockets, reporting failures as Winsock error codes.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/internal.h"

static thread_local int lastSockError = 0;

struct ErrnoToWinsock {
    int error;
    int winsock;
};

// Messages carry Winsock numbers on every platform, so these are what a
// client of the service sees.
static const ErrnoToWinsock WINSOCK_CODES[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},          {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {EPIPE, 10054},
    {ENOBUFS, 10055},         {ENOMEM, 10055},       {EISCONN, 10056},
    {ENOTCONN, 10057},        {ESHUTDOWN, 10058},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
};

// An errno without a Winsock counterpart is passed on as it is: it is never 0
// and cannot be taken for one of the Winsock numbers, which all lie above 10000.
static int winsockCode(int error) {
    for (const ErrnoToWinsock &entry : WINSOCK_CODES) {
        if (entry.error == error) return entry.winsock;
    }
    return error;
}

static int sockFail(int error) {
    posixSetError(error);
    lastSockError = winsockCode(error);
    return -1;
}

static int sockFailErrno() {
    return sockFail(errno);
}

static int sockResult(int rc) {
    return rc == 0 ? 0 : sockFailErrno();
}

int platSockStartup() {
    return 0;
}

int platSockError() {
    return lastSockError;
}

PlatSocket platSockTcp() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) sockFailErrno();
    return s < 0 ? PLAT_NO_SOCKET : s;
}

static int fdOf(PlatSocket s) {
    return s >= 0 && s <= 0x7FFFFFFF ? static_cast<int>(s) : -1;
}

int platSockReuseAddr(PlatSocket s) {
    int on = 1;
    return sockResult(setsockopt(fdOf(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
}

int platSockBindAny(PlatSocket s, uint16_t port) {
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return sockResult(bind(fdOf(s), reinterpret_cast<struct sockaddr *>(&address), sizeof address));
}

int platSockListen(PlatSocket s, int backlog) {
    return sockResult(listen(fdOf(s), backlog));
}

int platSockLocalPort(PlatSocket s, uint16_t *port) {
    struct sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (getsockname(fdOf(s), reinterpret_cast<struct sockaddr *>(&address), &length) != 0) {
        return sockFailErrno();
    }
    if (address.sin_family != AF_INET) return sockFail(EAFNOSUPPORT);
    *port = ntohs(address.sin_port);
    return 0;
}

int platSockLinger(PlatSocket s, int on, int seconds) {
    struct linger value = {};
    value.l_onoff = on ? 1 : 0;
    value.l_linger = seconds < 0 ? 0 : seconds;
    return sockResult(setsockopt(fdOf(s), SOL_SOCKET, SO_LINGER, &value, sizeof value));
}

int platSockConnect(PlatSocket s, const char *ipv4, uint16_t port) {
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (ipv4 == nullptr || inet_pton(AF_INET, ipv4, &address.sin_addr) != 1) {
        return sockFail(EINVAL);
    }
    return sockResult(
        connect(fdOf(s), reinterpret_cast<struct sockaddr *>(&address), sizeof address));
}

int platSockDeferAccept(PlatSocket s, int seconds) {
#ifdef TCP_DEFER_ACCEPT
    int value = seconds < 0 ? 0 : seconds;
    return sockResult(setsockopt(fdOf(s), IPPROTO_TCP, TCP_DEFER_ACCEPT, &value, sizeof value));
#else
    (void)s;
    (void)seconds;
    return sockFail(EOPNOTSUPP);
#endif
}

int platSockWait(PlatSocket s, int forWrite, int seconds, int stopEnds) {
    return platSockWaitMs(s, forWrite, seconds <= 0 ? 0 : static_cast<int64_t>(seconds) * 1000,
                          stopEnds);
}

int platSockWaitMs(PlatSocket s, int forWrite, int64_t ms, int stopEnds) {
    if (fdOf(s) < 0) return sockFail(ENOTSOCK);
    int timeoutMs = ms <= 0 ? 0 : (ms > 2000000000 ? 2000000000 : static_cast<int>(ms));
    int result = posixWaitFd(fdOf(s), forWrite ? POLLOUT : POLLIN, timeoutMs, !stopEnds);
    if (result == POSIX_WAIT_STOPPED) return sockFail(EINTR);
    if (result == POSIX_WAIT_FAILED) return sockFail(errno == EBADF ? ENOTSOCK : errno);
    return result;
}

PlatSocket platSockAccept(PlatSocket listener) {
    for (;;) {
        int s = accept4(fdOf(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (s >= 0) return s;
        if (errno != EINTR) break;
    }
    sockFailErrno();
    return PLAT_NO_SOCKET;
}

// Winsock calls do not see signals; a handler that ran meanwhile is no failure.
long platSockRecv(PlatSocket s, void *buf, size_t len) {
    for (;;) {
        ssize_t got = recv(fdOf(s), buf, len, 0);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return sockFailErrno();
    }
}

long platSockSend(PlatSocket s, const void *buf, size_t len) {
    for (;;) {
        ssize_t sent = send(fdOf(s), buf, len, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        if (errno != EINTR) return sockFailErrno();
    }
}

int platSockClose(PlatSocket s) {
    if (fdOf(s) < 0) return sockFail(ENOTSOCK);
    // After close the descriptor is gone even when close reports EINTR.
    if (close(fdOf(s)) != 0 && errno != EINTR) return sockFailErrno();
    return 0;
}
