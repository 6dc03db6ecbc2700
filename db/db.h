// The single ODBC connection, its dialects, its diagnostics and the result
// convention of every statement: 0 success, -1 no handle, the native error
// code of a failure (or -1 where it is 0), 100 no more rows.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    DB_SQL_TEXT_SIZE = 1024,
    DB_CONNECT_FIELD_SIZE = 24,  // user, password and data source as passed to the driver
    DB_SYSTEM_SIZE = 11,         // the DB_SYSTEM text of the credentials, NUL included
};

struct DiagRecord {
    char sqlState[256];
    char sqlMsg[1000];
    int32_t sqlCode;
};

extern DiagRecord g_diagRecord;           // diagnostics of the most recent failure
extern int g_dbNoData;                    // the no-data code of the dialect (100)
extern char g_sqlText[DB_SQL_TEXT_SIZE];  // shared statement text

// The dialect is the DB_SYSTEM text of the credentials, handed over by their
// reader before it connects and kept here (cut to 10 characters, as the
// credentials keep it). The tests below compare it anew each time.
void DbSetSystem(const char *dbSystem);
const char *DbSystem();  // the text last handed over, "" before
int dbIsOracle();
int dbIsMssql();
int dbIsMysql();

// 0 connected; -1 DB_SYSTEM not recognised, no handle, or connect refused.
// The user, password and data source name go to the driver as 24-byte
// copies: a longer value is cut to 23 characters. Any open job or tenant
// cursor is closed first (the driver frees it with the connection).
int DbConnect(const char *user, const char *password, const char *dataSource);
int DbDisconnect();  // always 0; closes open cursors too
int DbReconnect();   // 1 connected again, 0 not; uses the copies of the last DbConnect
// Fills g_diagRecord from record 1 of the handle (an ODBC handle type and handle).
void DbReadDiag(short handleType, void *handle);
// The sqlCode of g_diagRecord; *sqlState and *sqlMsg point at its texts.
int32_t DbLastError(const char **sqlState, const char **sqlMsg);

// Writes value into out with every single quote doubled (and, in the MYSQL
// dialect, every backslash), for a value placed between single quotes in a
// statement. Returns 1 when cut.
int dbQuote(char *out, size_t size, const char *value);
// The same for at most n bytes of value (a fixed field that may be full).
int dbQuoteN(char *out, size_t size, const char *value, size_t n);
