// kvscipher: enciphers and deciphers credential values, writes a complete
// credentials file and checks one with the service's own reader.
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "config/blowfish.h"
#include "config/credentials.h"
#include "db/db.h"
#include "platform/file.h"

enum {
    EXIT_BAD_INPUT = 2,
    TOOL_PLAIN_MAX = 512,  // encrypt / decrypt on the command line
    // A value field holds 192 digits, so a stored value has at most 96 characters.
    FILE_VALUE_MAX = 96,
    // The connect keeps user, password and data source in fields of 23 characters.
    CONNECT_VALUE_MAX = DB_CONNECT_FIELD_SIZE - 1,
    PASSWORD_LINE_SIZE = 256,
    FILE_TEXT_SIZE = 2048,
};

static int usage() {
    fprintf(
        stderr,
        "usage: kvscipher encrypt TEXT\n"
        "       kvscipher decrypt HEX\n"
        "       kvscipher write FILE --login USER --db-system ORACLE|MSSQL|MYSQL --database DSN\n"
        "                 (the password is read as one line from standard input)\n"
        "       kvscipher check FILE\n");
    return EXIT_BAD_INPUT;
}

static int cmdEncrypt(const char *plain) {
    char hex[2 * TOOL_PLAIN_MAX + 1];
    if (strlen(plain) > TOOL_PLAIN_MAX || !encryptToHex(plain, hex, sizeof hex, CREDENTIALS_KEY)) {
        fprintf(stderr, "kvscipher: text longer than %d characters\n", TOOL_PLAIN_MAX);
        return EXIT_BAD_INPUT;
    }
    printf("%s\n", hex);
    return 0;
}

static int cmdDecrypt(const char *hex) {
    char plain[TOOL_PLAIN_MAX + 1];
    if (strlen(hex) > 2 * TOOL_PLAIN_MAX) {
        fprintf(stderr, "kvscipher: hex text longer than %d digits\n", 2 * TOOL_PLAIN_MAX);
        return EXIT_BAD_INPUT;
    }
    decryptHexText(hex, plain, CREDENTIALS_KEY);
    printf("%s\n", plain);
    return 0;
}

struct WriteRequest {
    const char *path;
    const char *login;
    const char *dbSystem;
    const char *database;
    char pass[PASSWORD_LINE_SIZE];
};

static int parseWriteArgs(int argc, char **argv, WriteRequest *req) {
    req->path = argv[2];
    req->login = req->dbSystem = req->database = nullptr;
    for (int i = 3; i + 1 < argc; i += 2) {
        const char **slot = strcmp(argv[i], "--login") == 0       ? &req->login
                            : strcmp(argv[i], "--db-system") == 0 ? &req->dbSystem
                            : strcmp(argv[i], "--database") == 0  ? &req->database
                                                                  : nullptr;
        if (slot == nullptr || *slot != nullptr) return 0;
        *slot = argv[i + 1];
    }
    return argc % 2 == 1 && req->login != nullptr && req->dbSystem != nullptr &&
           req->database != nullptr;
}

// One line from standard input without its line end (LF or CR LF).
static int readPassword(char *out, size_t size) {
    if (fgets(out, static_cast<int>(size), stdin) == nullptr) {
        fprintf(stderr, "kvscipher: no password on standard input\n");
        return 0;
    }
    size_t len = strlen(out);
    if (len > 0 && out[len - 1] == '\n') {
        out[--len] = '\0';
    } else if (!feof(stdin)) {
        fprintf(stderr, "kvscipher: password line too long\n");
        return 0;
    }
    if (len > 0 && out[len - 1] == '\r') out[--len] = '\0';
    return 1;
}

// Refuses an empty value and one the service would have to cut.
static int checkLength(const char *what, const char *value, size_t max) {
    size_t len = strlen(value);
    if (len == 0) {
        fprintf(stderr, "kvscipher: %s is empty\n", what);
        return 0;
    }
    if (len > max) {
        fprintf(stderr, "kvscipher: %s has %zu characters, at most %zu can be used\n", what, len,
                max);
        return 0;
    }
    return 1;
}

static int checkValues(const WriteRequest *req) {
    if (strcmp(req->dbSystem, "ORACLE") != 0 && strcmp(req->dbSystem, "MSSQL") != 0 &&
        strcmp(req->dbSystem, "MYSQL") != 0) {
        fprintf(stderr, "kvscipher: DB_SYSTEM must be ORACLE, MSSQL or MYSQL\n");
        return 0;
    }
    static_assert(CONNECT_VALUE_MAX <= FILE_VALUE_MAX, "the connect limit is the narrowest");
    static_assert(CONNECT_VALUE_MAX < sizeof g_credentials.database,
                  "a data source fits its buffer");
    return checkLength("LOGIN", req->login, CONNECT_VALUE_MAX) &&
           checkLength("PASS", req->pass, CONNECT_VALUE_MAX) &&
           checkLength("DATABASE", req->database, CONNECT_VALUE_MAX);
}

// Appends the two lines "N;KEY;" and "N;KEY;HEX" of one record.
static int appendRecord(char *text, size_t size, int number, const char *key, const char *value) {
    char hex[2 * FILE_VALUE_MAX + 1];
    if (!encryptToHex(value, hex, sizeof hex, CREDENTIALS_KEY)) return 0;
    size_t used = strlen(text);
    int cut =
        kvsFormat(text + used, size - used, "%d;%s;\n%d;%s;%s\n", number, key, number, key, hex);
    memset(hex, 0, sizeof hex);
    return !cut;
}

static int cmdWrite(int argc, char **argv) {
    WriteRequest req;
    if (!parseWriteArgs(argc, argv, &req)) return usage();
    if (!readPassword(req.pass, sizeof req.pass) || !checkValues(&req)) return EXIT_BAD_INPUT;

    char text[FILE_TEXT_SIZE] = "";
    int ok = appendRecord(text, sizeof text, 1, "LOGIN", req.login) &&
             appendRecord(text, sizeof text, 2, "PASS", req.pass) &&
             appendRecord(text, sizeof text, 3, "DB_SYSTEM", req.dbSystem) &&
             appendRecord(text, sizeof text, 4, "DATABASE", req.database);
    int error = ok ? platWritePrivateFile(req.path, text, strlen(text)) : 0;
    memset(req.pass, 0, sizeof req.pass);
    memset(text, 0, sizeof text);
    if (!ok || error != 0) {
        fprintf(stderr, "kvscipher: cannot write %s (error %d)\n", req.path, error);
        return 1;
    }
    return 0;
}

static int reportValue(const char *key, const char *shown, const char *value) {
    printf("%-10s %s\n", key, shown);
    if (value[0] != '\0') return 1;
    fprintf(stderr, "kvscipher: %s is empty\n", key);
    return 0;
}

static int cmdCheck(const char *path) {
    FILE *file = fopen(path, "r");
    if (file == nullptr) {
        fprintf(stderr, "kvscipher: cannot open %s\n", path);
        return 1;
    }
    fclose(file);
    loadCredentials(path);
    int ok = reportValue("LOGIN", g_credentials.login, g_credentials.login);
    ok &= reportValue("PASS", "******", g_credentials.pass);
    ok &= reportValue("DB_SYSTEM", g_credentials.dbSystem, g_credentials.dbSystem);
    ok &= reportValue("DATABASE", g_credentials.database, g_credentials.database);
    memset(g_credentials.pass, 0, sizeof g_credentials.pass);
    return ok ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc < 3) return usage();
    const char *command = argv[1];
    if (strcmp(command, "encrypt") == 0 && argc == 3) return cmdEncrypt(argv[2]);
    if (strcmp(command, "decrypt") == 0 && argc == 3) return cmdDecrypt(argv[2]);
    if (strcmp(command, "check") == 0 && argc == 3) return cmdCheck(argv[2]);
    if (strcmp(command, "write") == 0) return cmdWrite(argc, argv);
    return usage();
}
