// The one ODBC environment and connection of the process, the dialect test,
// the diagnostics of the last failure, and the reconnect after a lost
// connection.
#include <cstdio>
#include <cstring>

#include "db/jobs.h"
#include "db/statement.h"
#include "db/tenants.h"
#include "log/log.h"

static_assert(DB_SQL_TEXT_SIZE == 1024, "the shared statement text has 1024 bytes");

DiagRecord g_diagRecord;
int g_dbNoData = SQL_NO_DATA;
char g_sqlText[DB_SQL_TEXT_SIZE];
SQLHDBC g_dbConnection = SQL_NULL_HDBC;
SQLLEN g_dbIndicator;

namespace {

SQLHENV g_dbEnvironment = SQL_NULL_HENV;

// The operation's own copies of what it passes to the driver.
struct ConnectFields {
    char user[DB_CONNECT_FIELD_SIZE];
    char password[DB_CONNECT_FIELD_SIZE];
    char dataSource[DB_CONNECT_FIELD_SIZE];
};
ConnectFields g_connectFields;
char g_dbSystem[DB_SYSTEM_SIZE];

SQLPOINTER integerAttribute(SQLULEN value) {
    return reinterpret_cast<SQLPOINTER>(value);
}

// Frees the connection and then the environment, ignoring every answer.
// The driver manager frees open statements with the connection, so the
// cursors are closed first and do not keep stale handles.
void releaseConnection() {
    SQLCloseKvs500Job();
    SQLCloseKvs112Mnd();
    if (g_dbConnection != SQL_NULL_HDBC) {
        SQLDisconnect(g_dbConnection);
        SQLFreeHandle(SQL_HANDLE_DBC, g_dbConnection);
        g_dbConnection = SQL_NULL_HDBC;
    }
    if (g_dbEnvironment != SQL_NULL_HENV) {
        SQLFreeHandle(SQL_HANDLE_ENV, g_dbEnvironment);
        g_dbEnvironment = SQL_NULL_HENV;
    }
}

int dialectKnown() {
    return dbIsOracle() || dbIsMssql() || dbIsMysql();
}

void reportConnectError() {
    DbReadDiag(SQL_HANDLE_DBC, g_dbConnection);
    std::printf("Connect Error: SQLCode: %ld sqlState: %s Msg: %s\n",
                static_cast<long>(g_diagRecord.sqlCode), g_diagRecord.sqlState,
                g_diagRecord.sqlMsg);
    std::fflush(stdout);
}

}  // namespace

void DbSetSystem(const char *dbSystem) {
    kvsCopy(g_dbSystem, dbSystem != nullptr ? dbSystem : "");
}
const char *DbSystem() {
    return g_dbSystem;
}

int dbIsOracle() {
    return std::strcmp(g_dbSystem, "ORACLE") == 0;
}
int dbIsMssql() {
    return std::strcmp(g_dbSystem, "MSSQL") == 0;
}
int dbIsMysql() {
    return std::strcmp(g_dbSystem, "MYSQL") == 0;
}

int DbConnect(const char *user, const char *password, const char *dataSource) {
    if (!dialectKnown()) {
        std::printf("DBSystem: %s\n", g_dbSystem);
        std::fflush(stdout);
        return -1;
    }
    g_dbNoData = SQL_NO_DATA;
    releaseConnection();
    kvsCopy(g_connectFields.user, user != nullptr ? user : "");
    kvsCopy(g_connectFields.password, password != nullptr ? password : "");
    kvsCopy(g_connectFields.dataSource, dataSource != nullptr ? dataSource : "");

    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &g_dbEnvironment) == SQL_ERROR) {
        g_dbEnvironment = SQL_NULL_HENV;
        return -1;
    }
    SQLSetEnvAttr(g_dbEnvironment, SQL_ATTR_ODBC_VERSION, integerAttribute(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);
    if (SQLAllocHandle(SQL_HANDLE_DBC, g_dbEnvironment, &g_dbConnection) == SQL_ERROR) {
        g_dbConnection = SQL_NULL_HDBC;
        return -1;
    }
    SQLRETURN rc =
        SQLConnect(g_dbConnection, reinterpret_cast<SQLCHAR *>(g_connectFields.dataSource), SQL_NTS,
                   reinterpret_cast<SQLCHAR *>(g_connectFields.user), SQL_NTS,
                   reinterpret_cast<SQLCHAR *>(g_connectFields.password), SQL_NTS);
    if (rc != SQL_ERROR) return 0;
    reportConnectError();
    return -1;
}

int DbDisconnect() {
    releaseConnection();
    return 0;
}

int DbReconnect() {
    writeLogf("- Datenbankverbindung reconnect!!!\n");
    DbDisconnect();
    // DbConnect overwrites its fields from the arguments, so they go by value.
    ConnectFields last = g_connectFields;
    int rc = DbConnect(last.user, last.password, last.dataSource);
    std::memset(&last, 0, sizeof last);  // the password must not linger on the stack
    if (rc != 0) {
        writeLogf("- Datenbankverbindung herstellen fehlgeschlagen! RC: %d\n", rc);
        return 0;
    }
    writeLogf("- Datenbankverbindung herstellen erfolgreich!\n");
    return 1;
}

void DbReadDiag(short handleType, void *handle) {
    std::memset(&g_diagRecord, 0, sizeof g_diagRecord);
    SQLINTEGER nativeCode = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(handleType, handle, 1, reinterpret_cast<SQLCHAR *>(g_diagRecord.sqlState),
                  &nativeCode, reinterpret_cast<SQLCHAR *>(g_diagRecord.sqlMsg),
                  static_cast<SQLSMALLINT>(sizeof g_diagRecord.sqlMsg), &length);
    g_diagRecord.sqlCode = nativeCode;
    // Drivers differ in how they cut a long message; the record stays a text.
    g_diagRecord.sqlState[sizeof g_diagRecord.sqlState - 1] = '\0';
    g_diagRecord.sqlMsg[sizeof g_diagRecord.sqlMsg - 1] = '\0';
}

int32_t DbLastError(const char **sqlState, const char **sqlMsg) {
    if (sqlState != nullptr) *sqlState = g_diagRecord.sqlState;
    if (sqlMsg != nullptr) *sqlMsg = g_diagRecord.sqlMsg;
    return g_diagRecord.sqlCode;
}
