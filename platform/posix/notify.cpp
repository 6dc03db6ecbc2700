// State reports through the socket that systemd names in NOTIFY_SOCKET.
#include "platform/notify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

int platNotify(const char *state) {
    // Started by hand or by another manager: there is no one to tell.
    const char *socket = getenv("NOTIFY_SOCKET");
    if (socket == nullptr || socket[0] == '\0') return 0;
    // The variable stays set for the workers: they send nothing, and systemd
    // takes reports from the service's own process only (NotifyAccess=main).
    int sent = sd_notify(0, state);
    return sent < 0 ? -sent : 0;
}
