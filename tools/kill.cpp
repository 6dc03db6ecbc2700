// kill.exe: ends the process whose decimal id is its only argument. Windows
// has no such program, and the service's shutdown runs "kill <pid>".
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/handle.h"
#include "platform/win32/terminate.h"

enum { EXIT_ENDED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

static int parsePid(const char *text, uint32_t *pid) {
    if (text == nullptr || text[0] < '0' || text[0] > '9' || strlen(text) > 10) return 0;
    char *end = nullptr;
    unsigned long long value = strtoull(text, &end, 10);
    if (end == nullptr || *end != '\0' || value == 0 || value > 0xFFFFFFFFull) return 0;
    *pid = static_cast<uint32_t>(value);
    return 1;
}

int main(int argc, char **argv) {
    uint32_t pid = 0;
    if (argc != 2 || !parsePid(argv[1], &pid)) {
        fprintf(stderr, "usage: kill PID\n");
        return EXIT_USAGE;
    }
    if (winProcessTerminate(pid) != 0) {
        char text[256];
        platErrorText(platLastError(), 1, text, sizeof text);
        fprintf(stderr, "kill: (%u) - %s\n", pid, text);
        return EXIT_FAILED;
    }
    return EXIT_ENDED;
}
