// The TCP port of the request listener. A second installation on one machine
// (or a test) moves it with the environment variable KVS_PORT; the service
// and its operator tool must agree on the value, so both read it here.
#pragma once

#include <cstdint>

#define PORT_ENV_NAME "KVS_PORT"

// Parses a decimal port 1..65535 with nothing before or after it.
// 1 and *port set, or 0 (*port unchanged).
int parsePort(const char *text, uint16_t *port);

// The port named by KVS_PORT, or fallback when it is unset or not a valid
// port. *rejected receives the variable's text when it is set but invalid,
// nullptr otherwise (callers report it in their own words).
uint16_t portFromEnvironment(uint16_t fallback, const char **rejected);
