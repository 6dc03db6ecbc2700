// Statements on the tenant table KvSystem.Kvs112Mnd and the tenants' head counts.
#pragma once

enum {
    TENANT_SCHEMA_SIZE = 21,    // schema name, NUL included
    TENANT_SETTINGS_SIZE = 24,  // "../files/%s%s.ini", NUL included
    TENANT_PERSONS_PER_PARTITION = 1000,
    TENANT_MAX_PARTITIONS = 10,
};

// Tenants with MndKon 1, the tenant 'Firma 1', and tenants with NULL in either
// column are never delivered. 0 open; -1 no statement handle; failure code.
int SQLOpenKvs112Mnd();
// schema: at least TENANT_SCHEMA_SIZE bytes; settingsPath: at least TENANT_SETTINGS_SIZE.
// 0 delivered (a NULL column arrives empty, a long schema name cut to 20);
// the no-data code after the last tenant; -1 no cursor open; failure code.
// The outputs are written only on success.
int SQLFetchKvs112Mnd(char *schema, char *settingsPath);
int SQLCloseKvs112Mnd();
// Partition count 1..10 (head count / 1000 + 1), 0 when the count cannot be
// read, -1 no statement handle. The schema name goes into the statement
// unquoted, so only names of letters, digits, "_", "$" and "#" are accepted
// ("#" not on MySQL, where it opens a comment); any other name gives 0.
int SQLCountPersonalstamm(const char *schema);

// The head-count text formatted into g_sqlText without executing it:
// 0, or -1 for a refused schema name.
int SQLTextCountPersonalstamm(const char *schema);
