// The service program. It takes no arguments: its files are found relative
// to the working directory, and KVS_PORT / KVS_IPC_DIR move its port and its
// pipes and events.
//
// Exit status: 0 after a normal stop ("*END" on the control pipe, SIGTERM or
// SIGINT); 1 when the start-up failed (database, stop event, control pipe or
// listener; the log says which) or when the wait for a client failed, so
// that a supervisor can tell both from a requested stop.
#include <cstdio>

#include "platform/signals.h"
#include "service/service.h"

int main() {
    // Fully buffered: the service flushes where a line must be seen at once,
    // and writes the console lines of one request together, once per request.
    setvbuf(stdout, nullptr, _IOFBF, 8192);
    platStopSignalsInstall();
    return runService();
}
