// The local control pipe through which another process stops the service
// ("*END") or asks for its process number ("*PID").
#pragma once

#define CONTROL_PIPE_NAME "\\\\.\\pipe\\KVSTGBSTR"

enum { CONTROL_READ_SIZE = 10 };

// 1 when the pipe exists and listens, 0 when it cannot be created (logged).
int openControlPipe(const char *pipeName);

// Looks at the pipe once without blocking. 1 go on, 0 stop.
int pollControlPipe(const char *pipeName);
