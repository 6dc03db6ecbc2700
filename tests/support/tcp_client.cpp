#include "tests/support/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int tcpConnectLoopback(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(s);
        return -1;
    }
    return s;
}

std::string tcpReadToEnd(int s, int waitMs) {
    std::string received;
    for (;;) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1) break;
        char buffer[1024];
        ssize_t got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        received.append(buffer, static_cast<size_t>(got));
    }
    return received;
}

std::string tcpExchange(uint16_t port, const std::string &request, int waitMs) {
    int s = tcpConnectLoopback(port);
    if (s < 0) return "<no connection>";
    if (!request.empty() && send(s, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        close(s);
        return "<not sent>";
    }
    std::string reply = tcpReadToEnd(s, waitMs);
    close(s);
    return reply;
}
