// What the fault tests look at from outside: the request port, the processes
// below the service, and their memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Connects, sends the bytes in one write (none for an empty text) and reads
// until the service closes the connection; returns everything received.
std::string converse(uint16_t port, const std::string &request);

// Connects and closes at once; true when the connection was made.
bool connectAndClose(uint16_t port);

// Connects and holds the connection without sending until the service
// closes it. True when it was closed without a byte received.
bool connectAndStaySilent(uint16_t port);

// Ids of the live (not zombie) processes whose parent is parentPid; with a
// key, only the workers started with "USER:<key>" as their last argument.
std::vector<int> childProcesses(int parentPid, const std::string &key = "");

// True once the process has ended: gone, or a zombie not yet reaped.
bool processEnded(int pid);

// VmRSS of the process in kB, -1 when unreadable.
long residentKb(int pid);
