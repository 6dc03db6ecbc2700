// State reports to the service manager that started the service (systemd
// with a unit of Type=notify). Without a notification socket in the
// environment, and on Windows, nothing is sent.
#pragma once

// Sends state, newline-separated NAME=VALUE assignments ("READY=1\nSTATUS=...").
// 1 sent, 0 nothing to send to (or not sent: the service runs on either way).
int platNotify(const char *state);
