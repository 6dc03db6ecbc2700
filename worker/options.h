// What the substitute worker is told: its key from the command line and the
// test behaviours from the environment it inherits from the service.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    WORKER_MAX_KEY = 54,  // "\\.\pipe\" and the key must fit the service's 63-character path
    WORKER_PIPE_PATH_SIZE = 64,
    WORKER_MAX_DIGITS = 11,  // "%d" of a 32-bit number: sign and ten digits
};

struct WorkerOptions {
    char settingsPath[260];
    char key[WORKER_MAX_KEY + 1];
    char pipePath[WORKER_PIPE_PATH_SIZE];
    uint32_t pauseMs;    // KVS_WORKER_PAUSE_MS: pause per number
    int32_t crashAfter;  // KVS_WORKER_CRASH_AFTER: the n-th number ends the process, 0 never
    int noEvent;         // KVS_WORKER_NO_EVENT=1: the event is never created
    int noSignal;        // KVS_WORKER_NO_SIGNAL=1: the event is never set
};

// Reads "<settings path> USER:<key>" (argc/argv as main gets them). Returns 1,
// or 0 with a one-line reason in error.
int parseWorkerArgs(int argc, char **argv, WorkerOptions *options, char *error, size_t size);

// Reads the test behaviours. They apply to every worker unless KVS_WORKER_ONLY
// names another key.
void readWorkerEnvironment(WorkerOptions *options);

// 1 when the length bytes at text are a number as the service sends it: an
// optional minus sign and digits, 1 to 11 bytes in all.
int isParameterNumber(const char *text, size_t length);
