// The tenant cursor and the head count that sizes a tenant's workers.
#include "db/tenants.h"

#include "db/statement.h"

namespace {

SQLHSTMT g_tenantCursor = SQL_NULL_HSTMT;

const char kTenantText[] =
    "SELECT MndSch, MndLiz, MndNum FROM   KvSystem.Kvs112Mnd WHERE  MndKon <> 1 AND    "
    "MndNa1 <> 'Firma 1' ";

enum { SCHEMA_NAME_MAX = 128 };

// The name qualifies a table unquoted: only characters that cannot end the
// identifier may pass.
int schemaNameAccepted(const char *name) {
    if (name == nullptr || name[0] == '\0') return 0;
    for (int i = 0; name[i] != '\0'; ++i) {
        if (i >= SCHEMA_NAME_MAX) return 0;
        char c = name[i];
        int ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '$' || (c == '#' && !dbIsMysql());
        if (!ok) return 0;
    }
    return 1;
}

int partitionCount(int32_t persons) {
    if (persons < 0) return 0;
    int count = persons / TENANT_PERSONS_PER_PARTITION + 1;
    return count > TENANT_MAX_PARTITIONS ? TENANT_MAX_PARTITIONS : count;
}

}  // namespace

int SQLOpenKvs112Mnd() {
    g_tenantCursor = SQL_NULL_HSTMT;
    SQLHSTMT stmt;
    if (dbAllocStatement(&stmt) != 0) return -1;
    dbSetLockConcurrency(stmt);
    kvsCopy(g_sqlText, kTenantText);
    int result = dbExecute(stmt);
    if (result != 0) {
        dbFreeStatement(&stmt);
        return result;
    }
    g_tenantCursor = stmt;
    return 0;
}

int SQLFetchKvs112Mnd(char *schema, char *settingsPath) {
    char mndSch[TENANT_SCHEMA_SIZE] = "";
    char mndLiz[6] = "";
    char mndNum[6] = "";
    if (g_tenantCursor == SQL_NULL_HSTMT) return -1;
    dbBindText(g_tenantCursor, 1, mndSch, sizeof mndSch);
    dbBindText(g_tenantCursor, 2, mndLiz, sizeof mndLiz);
    dbBindText(g_tenantCursor, 3, mndNum, sizeof mndNum);
    int result = dbFetch(g_tenantCursor);
    if (result != 0) return result;
    dbTerminate(mndSch);
    dbTerminate(mndLiz);
    dbTerminate(mndNum);
    kvsCopy(schema, TENANT_SCHEMA_SIZE, mndSch);
    kvsFormat(settingsPath, TENANT_SETTINGS_SIZE, "../files/%s%s.ini", mndLiz, mndNum);
    return 0;
}

int SQLCloseKvs112Mnd() {
    dbFreeStatement(&g_tenantCursor);
    return 0;
}

int SQLTextCountPersonalstamm(const char *schema) {
    if (!schemaNameAccepted(schema)) return -1;
    return dbFormatText("SELECT COUNT(*) FROM %s.PERSONALSTAMM WHERE  PSTBSVPZM = 1 ", schema);
}

int SQLCountPersonalstamm(const char *schema) {
    SQLHSTMT stmt;
    if (dbAllocStatement(&stmt) != 0) return -1;
    dbSetLockConcurrency(stmt);
    int result = 0;
    if (SQLTextCountPersonalstamm(schema) == 0 && dbExecute(stmt) == 0) {
        int32_t persons = 0;
        dbBindLong(stmt, 1, &persons);
        SQLRETURN rc = SQLFetch(stmt);
        // A failed fetch leaves no count; its diagnostics are not read.
        if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) result = partitionCount(persons);
    }
    dbFreeStatement(&stmt);
    return result;
}
