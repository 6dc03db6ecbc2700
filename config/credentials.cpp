// The credentials file reader. The matching and splitting rules are kept
// exactly as the files in the field were written against them, odd corners
// included (see the comments at each rule).
#include "config/credentials.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "config/blowfish.h"
#include "db/db.h"
#include "platform/file.h"
#include "platform/handle.h"

Credentials g_credentials;
CredentialRecord g_credentialRecord;

enum {
    NUMBER_TEXT_CHARS = 11,
    REASON_SIZE = 256,
    // Deciphered output of a value field: 8 bytes per 16 digits, rounded up, plus NUL.
    PLAIN_BUFFER_SIZE = 8 * ((CRED_FIELD_SIZE - 1 + 15) / 16) + 1,
};
static_assert(PLAIN_BUFFER_SIZE == 105, "room for a 200-digit value field");

static void clearRecord() {
    memset(&g_credentialRecord, 0, sizeof g_credentialRecord);
}

// One line of at most size - 1 characters, the rest counting as the next line.
// A CR LF ending reads as LF, also when the piece was cut between the two.
static int readLine(FILE *file, char *line, int size) {
    if (fgets(line, size, file) == nullptr) return 0;
    size_t len = strlen(line);
    if (len >= 2 && line[len - 2] == '\r' && line[len - 1] == '\n') {
        line[len - 2] = '\n';
        line[len - 1] = '\0';
    } else if (len >= 1 && line[len - 1] == '\r') {
        int next = fgetc(file);
        if (next == '\n') {
            line[len - 1] = '\n';
        } else if (next != EOF) {
            ungetc(next, file);
        }
    }
    return 1;
}

// The field between the first and the second ";". With only one ";" (or none)
// it is empty, so the record matches every lookup by that field. When the two
// stand side by side the field is the rest of the line from the second on,
// line feed included: never empty, so such a record does not match that way.
static void splitField(const char *first, const char *second, char *out) {
    if (first == nullptr || second == first) {
        out[0] = '\0';
    } else if (second == first + 1) {
        kvsCopy(out, CRED_FIELD_SIZE, second);
    } else {
        kvsCopyN(out, CRED_FIELD_SIZE, first + 1, size_t(second - first - 1));
    }
}

// Like atol on the first (at most 11) characters before the first ";",
// held in the 32-bit range.
static int32_t readNumber(const char *line, const char *first) {
    char text[NUMBER_TEXT_CHARS + 1];
    kvsCopyN(text, sizeof text, line, size_t(first - line));
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

static void splitSecondLine(const char *line) {
    const char *first = strchr(line, ';');
    if (first == nullptr) {
        // No separator at all: no number (0), no key, the whole line is the value.
        kvsCopy(g_credentialRecord.value, line);
        return;
    }
    const char *second = strchr(first + 1, ';');
    if (second == nullptr) second = first;
    g_credentialRecord.number = readNumber(line, first);
    splitField(first, second, g_credentialRecord.key);
    const char *lineFeed = strchr(second + 1, '\n');
    if (lineFeed != nullptr) {
        kvsCopyN(g_credentialRecord.value, CRED_FIELD_SIZE, second + 1,
                 size_t(lineFeed - second - 1));
    }
}

static void splitLines(const char *firstLine, const char *secondLine) {
    const char *first = strchr(firstLine, ';');
    const char *second = first != nullptr ? strchr(first + 1, ';') : nullptr;
    if (second == nullptr) second = first;
    splitField(first, second, g_credentialRecord.name);
    splitSecondLine(secondLine);
}

static int recordMatches(const char *name, const char *key, int32_t number) {
    return strcmp(g_credentialRecord.name, name) == 0 || strcmp(g_credentialRecord.key, key) == 0 ||
           g_credentialRecord.number == number;
}

static void decipherValue() {
    char plain[PLAIN_BUFFER_SIZE];
    decryptHexText(g_credentialRecord.value, plain, CREDENTIALS_KEY);
    kvsCopy(g_credentialRecord.value, plain);
    memset(plain, 0, sizeof plain);  // the password must not linger on the stack
}

// Opens the file only when it is a regular file: a FIFO in its place would
// hold the start-up, a directory or device gives nothing to read. nullptr
// when it cannot be opened or is refused; reason then says why.
static FILE *openCredentialFile(const char *path, char *reason, size_t size) {
    int kind = PLAT_FILE_OPEN_FAILED;
    FILE *file = platOpenRegularFile(path, &kind);
    if (file != nullptr) return file;
    const char *what = nullptr;
    switch (kind) {
        case PLAT_FILE_OPEN_FAILED:
            platErrorText(platLastError(), 1, reason, size);
            return nullptr;
        case PLAT_FILE_DIRECTORY:
            what = "Verzeichnis";
            break;
        case PLAT_FILE_FIFO:
            what = "FIFO";
            break;
        case PLAT_FILE_DEVICE:
            what = "Ger\xE4tedatei";
            break;
        default:
            what = "anderer Dateityp";
            break;
    }
    kvsFormat(reason, size, "keine regul\xE4re Datei (%s)", what);
    return nullptr;
}

// The lookup of readCredentialRecord. 0 when the file could not be read at
// all (reason says why), 1 otherwise, matched or not.
static int lookUpRecord(const char *name, const char *key, int32_t number, const char *path,
                        char *reason, size_t size) {
    clearRecord();
    FILE *file = openCredentialFile(path, reason, size);
    if (file == nullptr) return 0;
    char firstLine[CRED_FIRST_LINE_CHARS + 1];
    char secondLine[CRED_SECOND_LINE_CHARS + 1];
    while (readLine(file, firstLine, sizeof firstLine) &&
           readLine(file, secondLine, sizeof secondLine)) {
        splitLines(firstLine, secondLine);
        if (recordMatches(name, key, number)) {
            decipherValue();
            fclose(file);
            return 1;
        }
        clearRecord();
    }
    clearRecord();
    fclose(file);
    return 1;
}

void readCredentialRecord(const char *name, const char *key, int32_t number, const char *path) {
    char reason[REASON_SIZE];
    lookUpRecord(name, key, number, path, reason, sizeof reason);
}

// One value by its key. A file that cannot be read is named on standard
// error once per load, not once per key; the empty values then let the
// connect fail as designed.
static void loadValue(const char *key, char *out, size_t size, const char *path, int *reported) {
    char reason[REASON_SIZE];
    if (!lookUpRecord("", key, 0, path, reason, sizeof reason) && !*reported) {
        fprintf(stderr, "Zugangsdaten aus %s nicht gelesen: %s\n", path, reason);
        fflush(stderr);
        *reported = 1;
    }
    kvsCopy(out, size, g_credentialRecord.value);
}

void loadCredentials(const char *path) {
    memset(&g_credentials, 0, sizeof g_credentials);
    int reported = 0;
    loadValue("LOGIN", g_credentials.login, sizeof g_credentials.login, path, &reported);
    loadValue("PASS", g_credentials.pass, sizeof g_credentials.pass, path, &reported);
    loadValue("DB_SYSTEM", g_credentials.dbSystem, sizeof g_credentials.dbSystem, path, &reported);
    loadValue("DATABASE", g_credentials.database, sizeof g_credentials.database, path, &reported);
    DbSetSystem(g_credentials.dbSystem);  // the connection chooses its dialect by it
}

int readCredentials(const char *path) {
    loadCredentials(path);
    int result = DbConnect(g_credentials.login, g_credentials.pass, g_credentials.database);
    if (result != 0) {
        printf(
            "Datenbankverbindung fehlgeschlagen, Fehler: %d\nUser: %s\nPwd:  ****** \nDatabase: "
            "%s\nDbSystem: %s \n",
            result, g_credentials.login, g_credentials.database, g_credentials.dbSystem);
        fflush(stdout);
    }
    return result;
}
