#include "worker/options.h"

#include <cstdlib>
#include <cstring>

#include "common/text.h"

static const char USER_PREFIX[] = "USER:";

int parseWorkerArgs(int argc, char **argv, WorkerOptions *options, char *error, size_t size) {
    memset(options, 0, sizeof *options);
    if (argc != 3) {
        kvsFormat(error, size, "expected 2 arguments, got %d", argc - 1);
        return 0;
    }
    const char *user = argv[2];
    size_t prefixLength = sizeof USER_PREFIX - 1;
    if (strncmp(user, USER_PREFIX, prefixLength) != 0) {
        kvsFormat(error, size, "second argument \"%s\" does not begin with USER:", user);
        return 0;
    }
    const char *key = user + prefixLength;
    if (key[0] == '\0') {
        kvsCopy(error, size, "empty worker key after USER:");
        return 0;
    }
    if (strlen(key) > WORKER_MAX_KEY) {
        kvsFormat(error, size, "worker key longer than %d characters", WORKER_MAX_KEY);
        return 0;
    }
    if (kvsCopy(options->settingsPath, argv[1])) {
        kvsCopy(error, size, "settings path too long");
        return 0;
    }
    kvsCopy(options->key, key);
    kvsFormat(options->pipePath, sizeof options->pipePath, "\\\\.\\pipe\\%s", key);
    return 1;
}

// A missing, empty, non-numeric or negative value counts as 0.
static uint32_t readCount(const char *name) {
    const char *value = getenv(name);
    if (value == nullptr) return 0;
    char *end = nullptr;
    long number = strtol(value, &end, 10);
    if (end == value || *end != '\0' || number < 0) return 0;
    return number > 3600000 ? 3600000u : static_cast<uint32_t>(number);
}

static int readFlag(const char *name) {
    const char *value = getenv(name);
    return value != nullptr && strcmp(value, "1") == 0;
}

void readWorkerEnvironment(WorkerOptions *options) {
    const char *only = getenv("KVS_WORKER_ONLY");
    if (only != nullptr && only[0] != '\0' && strcmp(only, options->key) != 0) return;
    options->pauseMs = readCount("KVS_WORKER_PAUSE_MS");
    options->crashAfter = static_cast<int32_t>(readCount("KVS_WORKER_CRASH_AFTER"));
    options->noEvent = readFlag("KVS_WORKER_NO_EVENT");
    options->noSignal = readFlag("KVS_WORKER_NO_SIGNAL");
}

int isParameterNumber(const char *text, size_t length) {
    if (length == 0 || length > WORKER_MAX_DIGITS) return 0;
    size_t first = text[0] == '-' ? 1 : 0;
    if (first == length) return 0;
    for (size_t i = first; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') return 0;
    }
    return 1;
}
