// The TCP port of the request listener. A second installation on one machine
// (or a test) moves it with the environment variable KVS_PORT; the service
// and its operator tools must agree on the value, so all of them read it here.
#pragma once

#include <cstdint>

#define PORT_ENV_NAME "KVS_PORT"
// The one message for a KVS_PORT that is not a port, with the rejected text
// and the port used instead: the service logs it, the tools print it.
#define PORT_REJECTED_FORMAT "Ung\xFCltiger Port in " PORT_ENV_NAME ": %s, Port %d wird verwendet\n"

// Parses a decimal port 1..65535 with nothing before or after it.
// 1 and *port set, or 0 (*port unchanged).
int parsePort(const char *text, uint16_t *port);

// The port named by KVS_PORT, or fallback when it is unset or not a valid
// port. *rejected receives the variable's text when it is set but invalid,
// nullptr otherwise (callers report it in their own words).
uint16_t portFromEnvironment(uint16_t fallback, const char **rejected);
