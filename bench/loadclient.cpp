// Load client for the request round trip: N concurrent clients, each in a
// loop of connect, one write of the request line, read of the 512-byte reply,
// close. Runs for a given time or a given number of requests and prints the
// rate and the latency percentiles as one line of name=value pairs.
//
//   loadclient --port P [--clients N] [--seconds T | --requests R]
//              [--request TEXT] [--expect PREFIX]
//
// A reply counts as good when it is 512 bytes long and begins with PREFIX
// (default "OK:"); anything else counts as an error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

const size_t REPLY_SIZE = 512;

struct Options {
    int port = 0;
    int clients = 1;
    double seconds = 3.0;
    long requests = 0;  // 0: run for the time
    std::string request = "SCHEMA:BEN USER:ALLE PARM:4711 END\n";
    std::string expect = "OK:";
};

struct ClientResult {
    std::vector<uint32_t> latencyUs;
    long errors = 0;
};

int connectTo(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// One request; true when the reply is whole and starts as expected.
bool roundTrip(const Options &o) {
    int s = connectTo(o.port);
    if (s < 0) return false;
    bool ok =
        write(s, o.request.data(), o.request.size()) == static_cast<ssize_t>(o.request.size());
    char reply[REPLY_SIZE];
    size_t got = 0;
    while (ok && got < REPLY_SIZE) {
        ssize_t n = read(s, reply + got, REPLY_SIZE - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(s);
    return ok && got == REPLY_SIZE && memcmp(reply, o.expect.data(), o.expect.size()) == 0;
}

void runClient(const Options &o, std::atomic<long> *left, Clock::time_point end,
               ClientResult *result) {
    for (;;) {
        if (o.requests > 0) {
            if (left->fetch_sub(1) <= 0) return;
        } else if (Clock::now() >= end) {
            return;
        }
        Clock::time_point start = Clock::now();
        bool ok = roundTrip(o);
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        if (ok) {
            result->latencyUs.push_back(static_cast<uint32_t>(us.count()));
        } else {
            result->errors++;
        }
    }
}

uint32_t percentile(const std::vector<uint32_t> &sorted, double p) {
    if (sorted.empty()) return 0;
    size_t at = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

bool parse(int argc, char **argv, Options *o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        const char *value = argv[i + 1];
        if (name == "--port")
            o->port = atoi(value);
        else if (name == "--clients")
            o->clients = atoi(value);
        else if (name == "--seconds")
            o->seconds = atof(value);
        else if (name == "--requests")
            o->requests = atol(value);
        else if (name == "--request")
            o->request = value;
        else if (name == "--expect")
            o->expect = value;
        else
            return false;
    }
    return argc % 2 == 1 && o->port > 0 && o->clients > 0 && o->clients <= 256;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        fprintf(stderr,
                "usage: loadclient --port P [--clients N] [--seconds T | --requests R] "
                "[--request TEXT] [--expect PREFIX]\n");
        return 2;
    }
    std::atomic<long> left(o.requests);
    std::vector<ClientResult> results(static_cast<size_t>(o.clients));
    std::vector<std::thread> threads;
    Clock::time_point start = Clock::now();
    auto end = start + std::chrono::microseconds(static_cast<long>(o.seconds * 1e6));
    for (int i = 0; i < o.clients; i++)
        threads.emplace_back(runClient, std::cref(o), &left, end, &results[static_cast<size_t>(i)]);
    for (std::thread &t : threads) t.join();
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<uint32_t> all;
    long errors = 0;
    for (const ClientResult &r : results) {
        all.insert(all.end(), r.latencyUs.begin(), r.latencyUs.end());
        errors += r.errors;
    }
    std::sort(all.begin(), all.end());
    printf("clients=%d requests=%zu errors=%ld seconds=%.2f rate=%.0f p50_us=%u p99_us=%u\n",
           o.clients, all.size(), errors, elapsed, static_cast<double>(all.size()) / elapsed,
           percentile(all, 0.50), percentile(all, 0.99));
    return errors == 0 && !all.empty() ? 0 : 1;
}
