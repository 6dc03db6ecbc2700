// The local control pipe through which another process stops the service
// ("*END") or asks for its process number ("*PID").
#pragma once

#include <cstddef>

#define CONTROL_PIPE_NAME "\\\\.\\pipe\\KVSTGBSTR"

enum { CONTROL_READ_SIZE = 10 };

// 1 when the pipe exists and listens, 0 when it cannot be created (logged).
int openControlPipe(const char *pipeName);

// What one read from the pipe asks for.
enum ControlAction { CONTROL_IGNORE = 0, CONTROL_STOP = 1, CONTROL_ANSWER_PID = 2 };

// Decides on the bytes of one read (count of them; at most CONTROL_READ_SIZE
// are looked at). They are compared as terminated text, exactly and with
// case: "*END" stops, "*PID" asks for the process number, anything else -
// "*END" followed by any byte but NUL included - is ignored.
ControlAction decideControlMessage(const char *bytes, size_t count);

// Looks at the pipe once without blocking. 1 go on, 0 stop.
int pollControlPipe(const char *pipeName);
