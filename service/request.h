// The client request protocol on TCP port 3339:
//   [anything]SCHEMA:<schema> USER:<user> PARM:<number> END[anything]
// answered, after a successful hand-off, with a 512-byte block that begins
// with "OK:%d END".
#pragma once

#include <cstdint>

#include "net/socket.h"

enum {
    REQUEST_BUFFER_SIZE = 512,
    REQUEST_STOP_COUNT = 10,
    PARAM_SCHEMA_CHARS = 20,
    PARAM_USER_CHARS = 50,
    PARAM_NUMBER_CHARS = 50,
};

struct ParamRecord {
    char Schema[PARAM_SCHEMA_CHARS + 1];
    char User[PARAM_USER_CHARS + 1];  // schema#user, the task key
    int32_t PrmKey;
};

// 1 when the request is well formed and param filled, 0 otherwise.
int parseRequest(ParamRecord *param, const char *request, int length);

// Parses, dispatches to every task with the key, answers at most once, and
// closes and releases the client on every path. buffer is the 512-byte
// request buffer; it also carries the reply.
void handleRequest(KVSocket *client, char *buffer, int length, ParamRecord *param);
