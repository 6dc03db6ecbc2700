#include "tests/faults/probe.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/tcp_client.h"
#include "tests/support/tempdir.h"

namespace {

const int REPLY_WAIT_MS = 60000;

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
    return tcpExchange(port, request, REPLY_WAIT_MS);
}

bool connectAndClose(uint16_t port) {
    int s = tcpConnectLoopback(port);
    if (s < 0) return false;
    close(s);
    return true;
}

bool connectAndStaySilent(uint16_t port) {
    int s = tcpConnectLoopback(port);
    if (s < 0) return false;
    std::string received = tcpReadToEnd(s, REPLY_WAIT_MS);
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
