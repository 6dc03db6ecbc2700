// Processes: start from a command line, open by id, read the executable name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handle.h"

// Starts a program from a command line split by the Windows rules (blanks
// separate words, double quotes group them); the first word names the
// program, found the platform's usual way (POSIX: PATH). The child gets the
// caller's current directory and environment, inherits no handle, and is not
// waited for; ended children are reaped by the platform layer. Returns 0 and
// *pid, or a system error code (also platLastError()) when the program cannot
// be started, e.g. when it does not exist.
uint32_t platProcessStart(const char *commandLine, uint32_t *pid);

// Opens a running process for inspection. PLAT_INVALID_HANDLE when there is
// no such process (ended ones included) or it cannot be opened.
PlatHandle platProcessOpen(uint32_t pid);

// Writes the base name of the process's executable (e.g. "DEV_MYSQL.EXE")
// into out. Returns 0, or a system error code (also platLastError()) when it
// cannot be read (another user's process, a process that ended, a handle that
// is not an open process); out is then unchanged.
int platProcessModuleName(PlatHandle process, char *out, size_t size);

// 1 while the process with this id exists and has not ended, 0 otherwise.
int platProcessAlive(uint32_t pid);

// The id of the calling process.
uint32_t platProcessSelf();
