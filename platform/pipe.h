// Named pipes, as server and as client.
//
// Names are the service's Windows pipe paths ("\\.\pipe\NAME"); an
// implementation maps NAME onto its own namespace. On POSIX the objects live
// in one directory per machine and user: $KVS_IPC_DIR, or a private default
// below /tmp. Only the creating user (and the superuser) can attach.
//
// Semantics every implementation keeps:
// - one instance per name: a second server cannot create a name in use, and a
//   second client cannot attach while one is attached (PLAT_PIPE_BUSY);
// - a name disappears when its server closes it or ends, crashes included;
// - after the client closed its end the server's read answers PLAT_PIPE_BROKEN
//   until the server closes the handle and creates the pipe anew;
// - handles are never inherited by child processes;
// - once a stop request arrived (platform/signals.h) every blocking wait here
//   ends at once, the running one and all later ones: PLAT_PIPE_INTERRUPTED
//   (platPipeWaitReadable: -1).
#pragma once

#include <cstddef>

#include "platform/handle.h"

enum PlatPipeResult {
    PLAT_PIPE_OK = 0,
    PLAT_PIPE_NO_CLIENT = 1,    // server: no client has attached yet
    PLAT_PIPE_NO_DATA = 2,      // non-blocking read: attached, nothing waiting
    PLAT_PIPE_BROKEN = 3,       // the other end has closed
    PLAT_PIPE_BUSY = 4,         // client open: the single instance is taken
    PLAT_PIPE_NOT_FOUND = 5,    // client open: no server holds the name
    PLAT_PIPE_ERROR = 6,        // anything else; platLastError() tells
    PLAT_PIPE_INTERRUPTED = 7,  // a blocking wait was cut short by a stop signal
};

// Server side. Creates the single instance of the pipe. nonBlocking != 0:
// connect, read and write never wait. Returns the handle, or
// PLAT_INVALID_HANDLE (platLastError() tells why; a name in use by another
// server fails).
PlatHandle platPipeCreate(const char *pipePath, int nonBlocking);

// 1 when code, platLastError() after a failed platPipeCreate, says that the
// name is taken: by a live server, or on Windows also by a client that still
// holds a connection to a server that has ended (the system keeps that
// instance until the client closes it).
int platPipeNameTaken(uint32_t code);

// Server side. Takes a waiting client onto the instance. Non-blocking: returns
// PLAT_PIPE_OK when a client is attached (now or already), PLAT_PIPE_NO_CLIENT
// otherwise. Blocking: waits for a client, PLAT_PIPE_OK or
// PLAT_PIPE_INTERRUPTED / PLAT_PIPE_ERROR.
int platPipeConnect(PlatHandle pipe);

// Reads up to size bytes into buf; *got receives the count (0 on failure).
// Server, non-blocking: PLAT_PIPE_NO_CLIENT before a client attached (a waiting
// client is attached first), PLAT_PIPE_NO_DATA when attached and nothing waits,
// PLAT_PIPE_BROKEN after the client closed. Blocking: waits for at least one
// byte; PLAT_PIPE_BROKEN when the other end closed.
int platPipeRead(PlatHandle pipe, void *buf, size_t size, size_t *got);

// Writes all size bytes: PLAT_PIPE_OK only when every byte went out.
// Otherwise PLAT_PIPE_BROKEN (the other end is gone), PLAT_PIPE_NO_CLIENT or
// PLAT_PIPE_ERROR (also a non-blocking pipe that took only part: no room).
// *written receives the count of bytes that went out, also after a failure.
int platPipeWrite(PlatHandle pipe, const void *buf, size_t size, size_t *written);

// Server side. Drops the attached client (if any) and lets the same instance
// wait for the next one. PLAT_PIPE_OK or PLAT_PIPE_ERROR.
int platPipeDisconnect(PlatHandle pipe);

// Client side. Opens the existing pipe for reading and writing. *result
// receives PLAT_PIPE_OK, PLAT_PIPE_NOT_FOUND, PLAT_PIPE_BUSY or
// PLAT_PIPE_ERROR. Returns the handle or PLAT_INVALID_HANDLE. Client handles
// block on read and write.
PlatHandle platPipeOpen(const char *pipePath, int *result);

// Client side. Waits up to timeoutMs for data: 1 readable (data or end of
// stream), 0 time-out, -1 failure.
int platPipeWaitReadable(PlatHandle pipe, uint32_t timeoutMs);
