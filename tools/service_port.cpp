#include "tools/service_port.h"

#include <cstdio>

#include "net/port.h"
#include "service/service.h"

uint16_t servicePortOfTools() {
    const char *rejected = nullptr;
    uint16_t port = portFromEnvironment(SERVICE_PORT, &rejected);
    if (rejected != nullptr)
        fprintf(stderr, PORT_REJECTED_FORMAT, rejected, static_cast<int>(port));
    return port;
}
