// Stand-in until the database layer lands.
#include "db/db.h"
DiagRecord g_diagRecord;
int g_dbNoData = 100;
char g_sqlText[DB_SQL_TEXT_SIZE];
int dbIsOracle() { return 0; }
int dbIsMssql() { return 0; }
int dbIsMysql() { return 0; }
int DbConnect(const char *, const char *, const char *) { return -1; }
int DbDisconnect() { return 0; }
int DbReconnect() { return 0; }
void DbReadDiag(short, void *) {}
int32_t DbLastError(const char **s, const char **m) { *s = g_diagRecord.sqlState; *m = g_diagRecord.sqlMsg; return g_diagRecord.sqlCode; }
int dbQuote(char *out, size_t, const char *) { out[0] = 0; return 0; }
