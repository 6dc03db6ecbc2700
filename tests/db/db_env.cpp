#include "tests/db/db_env.h"

#include "common/text.h"
#include "db/db.h"
#include "db/jobs.h"
#include "db/tenants.h"

namespace {

PrivateMariaDb *g_db = nullptr;

class DbEnvironment : public ::testing::Environment {
   public:
    void SetUp() override {
        g_db = new PrivateMariaDb;
        ASSERT_TRUE(g_db->start()) << "the private server did not start";
    }
    void TearDown() override {
        SQLCloseKvs500Job();
        SQLCloseKvs112Mnd();
        DbDisconnect();
        delete g_db;
        g_db = nullptr;
    }
};

::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new DbEnvironment);

std::string sqlValue(const std::string &value) {
    return value == "NULL" ? value : "'" + value + "'";
}

}  // namespace

PrivateMariaDb &testDb() {
    return *g_db;
}

void DbTest::SetUp() {
    ASSERT_NE(g_db, nullptr);
    ASSERT_TRUE(g_db->exec("DELETE FROM KVSYSTEM.KVS500JOB; DELETE FROM KvSystem.Kvs112Mnd;"));
    if (std::string(DbSystem()) != "MYSQL" || g_dbNoData != 100) {
        ASSERT_EQ(g_db->connect("MYSQL"), 0);
    } else {
        // Cheap check that the connection still works; reconnect when not.
        SQLCloseKvs500Job();
        if (SQLDeleteKvs500Job("-", "-") != 0) {
            ASSERT_EQ(g_db->connect("MYSQL"), 0);
        }
    }
}

TaskRecord jobRecord(const char *da1, const char *ke2, const char *sts) {
    // Zeroed by hand: this binary links the database layer without tasks/.
    TaskRecord record = TaskRecord();
    kvsCopy(record.JOBDA1, da1);
    kvsCopy(record.JOBKE2, ke2);
    kvsCopy(record.JOBSTS, sts);
    kvsCopy(record.JOBRTY, "06");
    return record;
}

void insertJobRow(const std::string &da1, const std::string &ke2, const std::string &sts, int stv,
                  const std::string &type) {
    ASSERT_TRUE(testDb().exec(
        "INSERT INTO KVSYSTEM.KVS500JOB (JOBDA1, JOBKE2, JOBRTY, JOBSTS, JOBUSR, JOBMRT, JOBSTV) "
        "VALUES ('" +
        da1 + "', '" + ke2 + "', '" + type + "', " + sqlValue(sts) + ", 'S#" + ke2 + "', 0, " +
        std::to_string(stv) + ")"));
}
