// The floor for the request round trip: a single-threaded loopback server
// that accepts, receives once, sends a 512-byte block and closes - the
// network part of the service's work with nothing else. Runs until SIGTERM.
//
//   bareserver PORT
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onStop(int) {
    stopRequested = 1;
}

int listenOn(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(s, 128) != 0) {
        close(s);
        return -1;
    }
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2 || atoi(argv[1]) <= 0) {
        fprintf(stderr, "usage: bareserver PORT\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = onStop;  // no SA_RESTART: accept returns on the signal
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int listener = listenOn(atoi(argv[1]));
    if (listener < 0) {
        perror("bareserver: listen");
        return 1;
    }
    char buffer[512];
    while (!stopRequested) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        ssize_t got = read(client, buffer, sizeof buffer);
        if (got > 0) {
            memset(buffer, 0, sizeof buffer);
            memcpy(buffer, "OK:1 END", 8);
            ssize_t sent = write(client, buffer, sizeof buffer);
            (void)sent;
        }
        close(client);
    }
    close(listener);
    return 0;
}
