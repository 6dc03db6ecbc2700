// Statements on the tenant table KvSystem.Kvs112Mnd and the tenants' head counts.
#pragma once

enum {
    TENANT_SCHEMA_SIZE = 21,    // schema name, NUL included
    TENANT_SETTINGS_SIZE = 24,  // "../files/%s%s.ini", NUL included
};

int SQLOpenKvs112Mnd();
// schema: at least TENANT_SCHEMA_SIZE bytes; settingsPath: at least TENANT_SETTINGS_SIZE.
int SQLFetchKvs112Mnd(char *schema, char *settingsPath);
int SQLCloseKvs112Mnd();
// Partition count 1..10, 0 when the count cannot be read, -1 no statement handle.
int SQLCountPersonalstamm(const char *schema);
