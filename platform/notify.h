// State reports to the service manager that started the service (systemd
// with a unit of Type=notify). Without a notification socket in the
// environment, and on Windows, nothing is sent.
#pragma once

// Sends state, newline-separated NAME=VALUE assignments ("READY=1\nSTATUS=...").
// 0 sent, or nobody to send to; otherwise the system error code of a send
// that failed (the service runs on either way).
int platNotify(const char *state);
