// Start-up, main loop and shutdown of the service.
#pragma once

#define STOP_EVENT_NAME "DEV_STOP_EVENT"

enum {
    SERVICE_PORT = 3339,
    CLIENT_WAIT_SECONDS = 60,
    CLIENT_RECV_TIME_LIMIT = 1,  // seconds a client has to deliver its request
    SHUTDOWN_PAUSE_MS = 5000,
};

// Runs the whole service; returns the process exit status.
int runService();
