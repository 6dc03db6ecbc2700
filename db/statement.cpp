// The statement result convention shared by the job and tenant statements,
// and the quoting of values placed into statement texts.
#include "db/statement.h"

#include <cstdarg>

int dbAllocStatement(SQLHSTMT *stmt) {
    *stmt = SQL_NULL_HSTMT;
    // Without any connection handle the driver manager answers
    // SQL_INVALID_HANDLE, which must not pass for a usable statement.
    if (g_dbConnection == SQL_NULL_HDBC) return -1;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, g_dbConnection, stmt);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        *stmt = SQL_NULL_HSTMT;
        return -1;
    }
    return 0;
}

void dbFreeStatement(SQLHSTMT *stmt) {
    if (*stmt == SQL_NULL_HSTMT) return;
    SQLFreeHandle(SQL_HANDLE_STMT, *stmt);
    *stmt = SQL_NULL_HSTMT;
}

void dbSetLockConcurrency(SQLHSTMT stmt) {
    SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK),
                   SQL_IS_INTEGER);
}

int dbFailure(SQLHSTMT stmt) {
    DbReadDiag(SQL_HANDLE_STMT, stmt);
    return g_diagRecord.sqlCode != 0 ? g_diagRecord.sqlCode : -1;
}

int dbExecute(SQLHSTMT stmt) {
    SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR *>(g_sqlText), SQL_NTS);
    return rc == SQL_ERROR ? dbFailure(stmt) : 0;
}

int dbFetch(SQLHSTMT stmt) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) return 0;
    if (rc == SQL_ERROR) return dbFailure(stmt);
    return rc;
}

int dbRunStatement() {
    SQLHSTMT stmt;
    if (dbAllocStatement(&stmt) != 0) return -1;
    int result = dbExecute(stmt);
    dbFreeStatement(&stmt);
    return result;
}

int dbFormatText(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int cut = kvsFormatV(g_sqlText, sizeof g_sqlText, fmt, args);
    va_end(args);
    return cut ? -1 : 0;
}

void dbBindText(SQLHSTMT stmt, SQLUSMALLINT column, char *buffer, size_t size) {
    SQLBindCol(stmt, column, SQL_C_CHAR, buffer, static_cast<SQLLEN>(size), &g_dbIndicator);
}

void dbBindLong(SQLHSTMT stmt, SQLUSMALLINT column, int32_t *value) {
    SQLBindCol(stmt, column, SQL_C_LONG, value, sizeof *value, &g_dbIndicator);
}

// MySQL and MariaDB also read a backslash inside a literal as an escape (unless
// the server runs with NO_BACKSLASH_ESCAPES, which nothing here sets): a value
// holding \' would end its literal early, so there the backslash is doubled too.
static int needsDoubling(char c, int backslashEscapes) {
    return c == '\'' || (backslashEscapes && c == '\\');
}

int dbQuoteN(char *out, size_t size, const char *value, size_t n) {
    if (size == 0) return 1;
    const int backslashEscapes = dbIsMysql();
    size_t at = 0;
    for (size_t i = 0; i < n && value[i] != '\0'; ++i) {
        size_t need = needsDoubling(value[i], backslashEscapes) ? 2 : 1;
        if (at + need >= size) {
            out[at] = '\0';
            return 1;
        }
        out[at++] = value[i];
        if (need == 2) out[at++] = value[i];
    }
    out[at] = '\0';
    return 0;
}

int dbQuote(char *out, size_t size, const char *value) {
    return dbQuoteN(out, size, value, static_cast<size_t>(-1));
}
