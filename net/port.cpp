#include "net/port.h"

#include <cstdlib>

int parsePort(const char *text, uint16_t *port) {
    if (text == nullptr || *text < '0' || *text > '9') return 0;
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 65535) return 0;
    *port = static_cast<uint16_t>(value);
    return 1;
}

uint16_t portFromEnvironment(uint16_t fallback, const char **rejected) {
    *rejected = nullptr;
    const char *text = getenv(PORT_ENV_NAME);
    if (text == nullptr) return fallback;
    uint16_t port = fallback;
    if (!parsePort(text, &port)) *rejected = text;
    return port;
}
