// The tenant cursor and the head counts, against real tenant schemas.
#include "db/tenants.h"

#include <cstring>

#include "common/text.h"
#include "db/db.h"
#include "tests/db/db_env.h"

namespace {

// Every tenant the cursor delivers, as "schema=path" lines in order of MndNr.
std::string deliveredTenants() {
    std::string all;
    EXPECT_EQ(SQLOpenKvs112Mnd(), 0);
    char schema[TENANT_SCHEMA_SIZE];
    char path[TENANT_SETTINGS_SIZE];
    int rc;
    while ((rc = SQLFetchKvs112Mnd(schema, path)) == 0)
        all += std::string(schema) + "=" + path + "\n";
    EXPECT_EQ(rc, g_dbNoData);
    EXPECT_EQ(SQLCloseKvs112Mnd(), 0);
    return all;
}

TEST_F(DbTest, HeadCountsGivePartitionCounts) {
    const struct {
        const char *schema;
        int persons;
        int partitions;
    } cases[] = {{"HC0", 0, 1},
                 {"HC999", 999, 1},
                 {"HC1000", 1000, 2},
                 {"HC9000", 9000, 10},
                 {"HC25000", 25000, 10}};
    for (const auto &c : cases) {
        ASSERT_TRUE(testDb().addTenant(c.schema, c.persons));
        EXPECT_EQ(SQLCountPersonalstamm(c.schema), c.partitions) << c.schema;
    }
    // Only PSTBSVPZM = 1 counts.
    ASSERT_TRUE(testDb().exec("UPDATE HC1000.PERSONALSTAMM SET PSTBSVPZM = 0 WHERE PSTNR <= 1"));
    EXPECT_EQ(SQLCountPersonalstamm("HC1000"), 1);
    // Names are case-insensitive on this server, as the service expects.
    EXPECT_EQ(SQLCountPersonalstamm("hc9000"), 10);
}

TEST_F(DbTest, HeadCountWithoutTableOrWithBadNameIsZero) {
    ASSERT_TRUE(testDb().exec("CREATE DATABASE IF NOT EXISTS NOPERS"));
    EXPECT_EQ(SQLCountPersonalstamm("NOPERS"), 0);
    EXPECT_EQ(g_diagRecord.sqlCode, 1146);
    EXPECT_EQ(SQLCountPersonalstamm("MISSING_SCHEMA"), 0);

    ASSERT_TRUE(testDb().addTenant("GOOD", 5));
    for (const char *bad : {"", "GOOD.PERSONALSTAMM x, GOOD", "GOOD ", "GO OD", "GOOD;", "G'OOD",
                            "GOOD-1", "G\xFC", "GOOD#", "GOOD/*"}) {
        EXPECT_EQ(SQLCountPersonalstamm(bad), 0) << bad;
        EXPECT_EQ(SQLTextCountPersonalstamm(bad), -1) << bad;
    }
    EXPECT_EQ(SQLCountPersonalstamm(std::string(200, 'A').c_str()), 0);
    EXPECT_EQ(SQLCountPersonalstamm("GOOD"), 1);
}

TEST(TenantTexts, HeadCountText) {
    ASSERT_EQ(SQLTextCountPersonalstamm("Ab_9$"), 0);
    EXPECT_STREQ(g_sqlText, "SELECT COUNT(*) FROM Ab_9$.PERSONALSTAMM WHERE  PSTBSVPZM = 1 ");
    // "#" is a name character elsewhere but opens a comment on MySQL.
    DbSetSystem("ORACLE");
    EXPECT_EQ(SQLTextCountPersonalstamm("A#B"), 0);
    DbSetSystem("MYSQL");
    EXPECT_EQ(SQLTextCountPersonalstamm("A#B"), -1);
}

TEST_F(DbTest, TenantCursorFiltersAndBuildsSettingsPaths) {
    ASSERT_TRUE(testDb().exec(
        "INSERT INTO KvSystem.Kvs112Mnd (MndNr, MndSch, MndLiz, MndNum, MndKon, MndNa1) VALUES "
        "(1, 'T1', 'A1', '07', 0, 'Mandant 1'),"
        "(2, 'OFF', 'A1', '08', 1, 'Mandant 2'),"
        "(3, 'F1', 'A1', '09', 0, 'Firma 1'),"
        "(4, 'KNULL', 'A1', '10', NULL, 'Mandant 4'),"
        "(5, 'NNULL', 'A1', '11', 0, NULL),"
        "(6, NULL, NULL, NULL, 2, 'Mandant 6'),"
        "(7, 'ABCDEFGHIJKLMNOPQRSTUVWXY', 'LIZ99', '12345', 0, 'Firma 10')"));
    EXPECT_EQ(deliveredTenants(),
              "T1=../files/A107.ini\n"
              "=../files/.ini\n"
              "ABCDEFGHIJKLMNOPQRST=../files/LIZ9912345.ini\n");
}

TEST_F(DbTest, TenantFetchWithoutCursorWritesNothing) {
    char schema[TENANT_SCHEMA_SIZE] = "keep";
    char path[TENANT_SETTINGS_SIZE] = "keep too";
    EXPECT_EQ(SQLFetchKvs112Mnd(schema, path), -1);
    ASSERT_EQ(SQLOpenKvs112Mnd(), 0);
    EXPECT_EQ(SQLFetchKvs112Mnd(schema, path), 100);  // no tenants
    SQLCloseKvs112Mnd();
    EXPECT_EQ(SQLFetchKvs112Mnd(schema, path), -1);
    EXPECT_STREQ(schema, "keep");
    EXPECT_STREQ(path, "keep too");

    ASSERT_TRUE(testDb().exec("RENAME TABLE KVSYSTEM.KVS112MND TO KVSYSTEM.KVS112OLD"));
    EXPECT_EQ(SQLOpenKvs112Mnd(), 1146);
    EXPECT_EQ(SQLFetchKvs112Mnd(schema, path), -1);
    ASSERT_TRUE(testDb().exec("RENAME TABLE KVSYSTEM.KVS112OLD TO KVSYSTEM.KVS112MND"));
}

TEST_F(DbTest, CountRunsBetweenTenantFetches) {
    ASSERT_TRUE(testDb().addTenant("MIX1", 1200, "B2", "01"));
    ASSERT_TRUE(testDb().addTenant("MIX2", 3, "B2", "02"));
    ASSERT_EQ(SQLOpenKvs112Mnd(), 0);
    char schema[TENANT_SCHEMA_SIZE];
    char path[TENANT_SETTINGS_SIZE];
    std::string seen;
    while (SQLFetchKvs112Mnd(schema, path) == 0)
        seen += std::string(schema) + ":" + std::to_string(SQLCountPersonalstamm(schema)) + " ";
    SQLCloseKvs112Mnd();
    EXPECT_EQ(seen, "MIX1:2 MIX2:1 ");
}

}  // namespace
