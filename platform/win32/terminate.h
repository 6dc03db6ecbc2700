// Ending another process by id: only kill.exe needs it, since the service
// itself ends its workers through that program.
#pragma once

#include <cstdint>

// Terminates the process with exit code 1. Returns 0, or the system error
// code (also platLastError()) when there is no such process or it cannot be
// ended.
uint32_t winProcessTerminate(uint32_t pid);
