// The credentials file: two-line records of ";"-separated fields whose
// values are enciphered and written as hex text.
#pragma once

#include <cstdint>

#define CREDENTIALS_PATH "../files/korvantis.ini"
#define CREDENTIALS_KEY "VORDLAK"

enum {
    CRED_FIRST_LINE_CHARS = 199,   // first line of a record, line feed included
    CRED_SECOND_LINE_CHARS = 399,  // second line of a record, line feed included
    CRED_FIELD_SIZE = 201,         // name, key and value of a record, NUL included
};

// The four values, read once at start-up and kept for the service's life.
struct Credentials {
    char login[200];
    char pass[200];     // never written to any output
    char dbSystem[11];  // "ORACLE", "MSSQL" or "MYSQL"
    char database[41];  // ODBC data source name
};
extern Credentials g_credentials;

// The result of the last lookup.
struct CredentialRecord {
    int32_t number;
    char name[CRED_FIELD_SIZE];
    char key[CRED_FIELD_SIZE];
    char value[CRED_FIELD_SIZE];  // deciphered after a match
};
extern CredentialRecord g_credentialRecord;

// Finds the first record that matches by name, by key or by number, and
// leaves it with its value deciphered in g_credentialRecord; an empty record
// when none matches or the file cannot be opened.
void readCredentialRecord(const char *name, const char *key, int32_t number, const char *path);

// Reads LOGIN, PASS, DB_SYSTEM and DATABASE into g_credentials and hands
// DB_SYSTEM to the database layer, without connecting (used by the service
// and by the operator tools).
void loadCredentials(const char *path);

// Reads the four values and connects to the database. 0 when connected,
// otherwise the connect's non-zero result (the failure is printed, the
// password only as six asterisks).
int readCredentials(const char *path);
