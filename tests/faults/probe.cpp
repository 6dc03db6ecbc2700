#include "tests/faults/probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/tempdir.h"

namespace {

const int REPLY_WAIT_MS = 60000;

int connectTo(uint16_t port) {
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

// Reads until the peer closes (or resets) the connection.
std::string readToEnd(int s) {
    std::string received;
    for (;;) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, REPLY_WAIT_MS) != 1) break;
        char buffer[1024];
        ssize_t got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        received.append(buffer, static_cast<size_t>(got));
    }
    return received;
}

// The fields of /proc/PID/stat after the command name: state, ppid, ...
std::vector<std::string> statFields(int pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream in(stat.substr(close + 1));
    std::string field;
    while (in >> field) fields.push_back(field);
    return fields;
}

// The last NUL-separated word of /proc/PID/cmdline.
std::string lastArgument(int pid) {
    std::string line = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    while (!line.empty() && line.back() == '\0') line.pop_back();
    size_t at = line.rfind('\0');
    return at == std::string::npos ? line : line.substr(at + 1);
}

}  // namespace

std::string converse(uint16_t port, const std::string &request) {
    int s = connectTo(port);
    if (s < 0) return "<no connection>";
    if (!request.empty() && send(s, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        close(s);
        return "<not sent>";
    }
    std::string reply = readToEnd(s);
    close(s);
    return reply;
}

std::string replyBlock(const std::string &text) {
    std::string block = text;
    block.resize(512, '\0');
    return block;
}

bool connectAndClose(uint16_t port) {
    int s = connectTo(port);
    if (s < 0) return false;
    close(s);
    return true;
}

bool connectAndStaySilent(uint16_t port) {
    int s = connectTo(port);
    if (s < 0) return false;
    std::string received = readToEnd(s);
    close(s);
    return received.empty();
}

std::vector<int> childProcesses(int parentPid, const std::string &key) {
    std::vector<int> children;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        int pid = atoi(name.c_str());
        std::vector<std::string> fields = statFields(pid);
        if (fields.size() < 2 || fields[0] == "Z" || atoi(fields[1].c_str()) != parentPid) continue;
        if (!key.empty() && lastArgument(pid) != "USER:" + key) continue;
        children.push_back(pid);
    }
    return children;
}

bool processEnded(int pid) {
    std::vector<std::string> fields = statFields(pid);
    return fields.empty() || fields[0] == "Z" || fields[0] == "X";
}

long residentKb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return atol(line.c_str() + 6);
    return -1;
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (condition()) return true;
        usleep(50 * 1000);
    }
    return condition();
}
