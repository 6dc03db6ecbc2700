// Inside the database layer: the connection handle, the shared column
// indicator and the helpers that carry the statement result convention
// (0 success; only SQL_ERROR fails, with the native code or -1, never 0).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "common/text.h"
#include "db/db.h"

static_assert(sizeof(SQLINTEGER) == sizeof(int32_t), "SQL_C_LONG targets are 32-bit fields");

extern SQLHDBC g_dbConnection;  // SQL_NULL_HDBC while none is allocated
extern SQLLEN g_dbIndicator;    // shared by every column binding, read by nothing

// A new statement handle in *stmt: 0, or -1 when the connection gives none
// (also when no connection handle exists at all).
int dbAllocStatement(SQLHSTMT *stmt);
// Frees *stmt if it is a handle and sets it to SQL_NULL_HSTMT.
void dbFreeStatement(SQLHSTMT *stmt);
// Asks for locking concurrency on a cursor; the answer is ignored.
void dbSetLockConcurrency(SQLHSTMT stmt);
// Reads the statement's diagnostics; the failure code: sqlCode, or -1 for 0.
int dbFailure(SQLHSTMT stmt);
// Executes the text in g_sqlText: 0, or the failure code.
int dbExecute(SQLHSTMT stmt);
// One fetch: 0 for a row (cut values included), the failure code for
// SQL_ERROR, any other answer (SQL_NO_DATA above all) unchanged.
int dbFetch(SQLHSTMT stmt);
// A statement that delivers no rows, from the text in g_sqlText, on a handle
// of its own: 0, -1 no handle, or the failure code.
int dbRunStatement();

// Formats into g_sqlText. 0, or -1 when the text would not fit (it must then
// not be executed: a cut statement could mean something else).
int dbFormatText(const char *fmt, ...) KVS_PRINTF(1, 2);

// Column bindings onto caller-owned buffers, all on the shared indicator.
void dbBindText(SQLHSTMT stmt, SQLUSMALLINT column, char *buffer, size_t size);
void dbBindLong(SQLHSTMT stmt, SQLUSMALLINT column, int32_t *value);

// The driver fills a buffer too short for its value completely, without a
// terminator: after a fetch every bound text is cut to its size less one.
template <size_t N>
inline void dbTerminate(char (&buffer)[N]) {
    buffer[N - 1] = '\0';
}

// A field's value with every single quote doubled, for the statement texts.
// Room for a field of N quote characters, so it is never cut.
template <size_t N>
struct DbQuoted {
    char text[2 * N + 1];
};
template <size_t N>
inline DbQuoted<N> dbQuoteField(const char (&field)[N]) {
    DbQuoted<N> quoted;
    dbQuoteN(quoted.text, sizeof quoted.text, field, N);
    return quoted;
}
