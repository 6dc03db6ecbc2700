// The credentials file reader on arbitrary file contents. The reader works on
// a path, so each input goes into one anonymous temporary file (removed by
// the system when the fuzzer ends, however it ends), which the reader opens
// through /proc/self/fd. The four lookups of the service run on it, plus
// lookups by name and by number; every field must stay terminated within its
// buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/credentials.h"

static FILE *store() {
    static FILE *file = tmpfile();
    if (file == nullptr) abort();
    return file;
}

static const std::string &storePath() {
    static const std::string path = "/proc/self/fd/" + std::to_string(fileno(store()));
    return path;
}

static void writeStore(const uint8_t *data, size_t size) {
    FILE *file = store();
    rewind(file);
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    if (fflush(file) != 0 || ftruncate(fileno(file), static_cast<off_t>(size)) != 0) abort();
}

static void checkTerminated(const char *field, size_t size) {
    if (strnlen(field, size) >= size) abort();
}

static void checkRecord() {
    checkTerminated(g_credentialRecord.name, sizeof g_credentialRecord.name);
    checkTerminated(g_credentialRecord.key, sizeof g_credentialRecord.key);
    checkTerminated(g_credentialRecord.value, sizeof g_credentialRecord.value);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    writeStore(data, size);
    const char *path = storePath().c_str();
    loadCredentials(path);
    checkTerminated(g_credentials.login, sizeof g_credentials.login);
    checkTerminated(g_credentials.pass, sizeof g_credentials.pass);
    checkTerminated(g_credentials.dbSystem, sizeof g_credentials.dbSystem);
    checkTerminated(g_credentials.database, sizeof g_credentials.database);
    checkRecord();
    readCredentialRecord("LOGIN", "NONE", 0, path);
    checkRecord();
    readCredentialRecord("NONE", "NONE", 3, path);
    checkRecord();
    return 0;
}
