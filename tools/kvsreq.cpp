// kvsreq: sends one client request to the service and prints its reply.
//
//   kvsreq [--host H] [--port P] [--wait S] SCHEMA USER PARM
//
// Exit status: 0 when the reply begins with "OK:", 1 when the service closed
// the connection (or let the wait pass) without a reply, 2 on bad arguments
// or when no connection could be made.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "net/port.h"
#include "platform/socket.h"
#include "service/service.h"
#include "tools/service_port.h"

enum {
    DEFAULT_WAIT_SECONDS = 600,  // the service answers only when the worker is done
    REPLY_SIZE = 512,
    REQUEST_LIMIT = 512,  // the service reads at most this much, once
    EXIT_OK = 0,
    EXIT_NO_REPLY = 1,
    EXIT_FAILED = 2,
};

struct Options {
    const char *host;
    uint16_t port;
    int waitSeconds;
    const char *schema;
    const char *user;
    const char *parm;
};

static int usage() {
    fprintf(stderr,
            "usage: kvsreq [--host IPV4] [--port PORT] [--wait SECONDS] SCHEMA USER PARM\n"
            "  sends \"SCHEMA:<SCHEMA> USER:<USER> PARM:<PARM> END\" and prints the reply\n"
            "  (port: KVS_PORT or %d; wait: %d seconds)\n",
            SERVICE_PORT, DEFAULT_WAIT_SECONDS);
    return EXIT_FAILED;
}

// A whole decimal number within [low, high], or -1.
static int parseBounded(const char *text, int low, int high) {
    if (text == nullptr || *text == '\0') return -1;
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high) return -1;
    return static_cast<int>(value);
}

// Fills opts from argv. 1 when usable.
static int parseArgs(int argc, char **argv, Options *opts) {
    *opts =
        Options{"127.0.0.1", servicePortOfTools(), DEFAULT_WAIT_SECONDS, nullptr, nullptr, nullptr};
    const char *positional[3];
    int count = 0;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--host") == 0 || strcmp(arg, "--port") == 0 ||
            strcmp(arg, "--wait") == 0) {
            if (i + 1 >= argc) return 0;
            const char *value = argv[++i];
            if (arg[2] == 'h') opts->host = value;
            if (arg[2] == 'p' && !parsePort(value, &opts->port)) return 0;
            if (arg[2] == 'w' && (opts->waitSeconds = parseBounded(value, 1, 86400)) < 0) return 0;
        } else if (arg[0] == '-' && arg[1] == '-') {
            return 0;
        } else {
            if (count == 3) return 0;
            positional[count++] = arg;
        }
    }
    if (count != 3) return 0;
    if (strcmp(opts->host, "localhost") == 0) opts->host = "127.0.0.1";
    opts->schema = positional[0];
    opts->user = positional[1];
    opts->parm = positional[2];
    return 1;
}

// Connects and sends the request in one write. The socket, or PLAT_NO_SOCKET.
static PlatSocket sendRequest(const Options &opts, const char *request) {
    if (platSockStartup() != 0) return PLAT_NO_SOCKET;
    PlatSocket s = platSockTcp();
    if (s == PLAT_NO_SOCKET) {
        fprintf(stderr, "kvsreq: no socket (error %d)\n", platSockError());
        return PLAT_NO_SOCKET;
    }
    if (platSockConnect(s, opts.host, opts.port) != 0) {
        fprintf(stderr, "kvsreq: cannot connect to %s port %d (error %d)\n", opts.host, opts.port,
                platSockError());
        platSockClose(s);
        return PLAT_NO_SOCKET;
    }
    long length = static_cast<long>(strlen(request));
    long sent = platSockSend(s, request, static_cast<size_t>(length));
    if (sent != length) {
        fprintf(stderr, "kvsreq: request not sent (error %d)\n", platSockError());
        platSockClose(s);
        return PLAT_NO_SOCKET;
    }
    return s;
}

// Reads up to the whole reply block, until the service closes the connection
// or the wait has passed (*timedOut 1). Returns the bytes received.
static int readReply(PlatSocket s, char *reply, int waitSeconds, int *timedOut) {
    int received = 0;
    *timedOut = 0;
    while (received < REPLY_SIZE) {
        int ready = platSockWait(s, 0, waitSeconds, 1);
        *timedOut = ready == 0;
        if (ready != 1) break;
        long got = platSockRecv(s, reply + received, static_cast<size_t>(REPLY_SIZE - received));
        if (got <= 0) break;
        received += static_cast<int>(got);
    }
    return received;
}

int main(int argc, char **argv) {
    Options opts;
    if (!parseArgs(argc, argv, &opts)) return usage();

    char request[REQUEST_LIMIT + 1];
    if (kvsFormat(request, sizeof request, "SCHEMA:%s USER:%s PARM:%s END\n", opts.schema,
                  opts.user, opts.parm)) {
        fprintf(stderr, "kvsreq: the request is longer than %d bytes\n", REQUEST_LIMIT);
        return EXIT_FAILED;
    }
    PlatSocket s = sendRequest(opts, request);
    if (s == PLAT_NO_SOCKET) return EXIT_FAILED;

    char reply[REPLY_SIZE + 1];
    int timedOut = 0;
    int received = readReply(s, reply, opts.waitSeconds, &timedOut);
    platSockClose(s);
    reply[received] = '\0';  // the text ends at its NUL or at the bytes received
    if (received == 0 && timedOut) {
        fprintf(stderr, "kvsreq: no reply within %d seconds\n", opts.waitSeconds);
        return EXIT_NO_REPLY;
    }
    if (received == 0) {
        fprintf(stderr, "kvsreq: the service closed the connection without a reply\n");
        return EXIT_NO_REPLY;
    }
    printf("%s\n", reply);
    return strncmp(reply, "OK:", 3) == 0 ? EXIT_OK : EXIT_NO_REPLY;
}
