// The connection: dialect choice, connect failures with their console
// lines, the statements' answer without a connection, and the reconnect
// after the server went away.
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "db/db.h"
#include "db/jobs.h"
#include "db/tenants.h"
#include "tests/db/db_env.h"
#include "tests/support/tempdir.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST_F(DbTest, UnknownDialectIsRefusedAndLeavesTheConnection) {
    for (const char *system : {"oracle", "MySQL", "", "SQLSERVER"}) {
        CaptureStdout();
        EXPECT_EQ(testDb().connect(system), -1);
        EXPECT_EQ(GetCapturedStdout(), std::string("DBSystem: ") + system + "\n");
    }
    // The connection made before is still there.
    DbSetSystem("MYSQL");
    EXPECT_EQ(SQLDeleteKvs500Job("x", "y"), 0);
}

TEST_F(DbTest, WrongPasswordPrintsTheDriverDiagnostics) {
    DbSetSystem("MYSQL");
    CaptureStdout();
    EXPECT_EQ(DbConnect(testDb().user().c_str(), "wrong", testDb().dsn().c_str()), -1);
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("Connect Error: SQLCode: 1045 sqlState: 28000 Msg: ", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    const char *state = nullptr;
    const char *msg = nullptr;
    EXPECT_EQ(DbLastError(&state, &msg), 1045);
    EXPECT_STREQ(state, "28000");
    EXPECT_NE(std::string(msg).find("Access denied"), std::string::npos);

    // A refused connect leaves an unconnected handle: statements fail with
    // -1 and never pretend success.
    TaskRecord record = jobRecord("20240101000000", "K");
    TaskRecord before;
    memcpy(&before, &record, sizeof before);
    EXPECT_EQ(SQLUpdateKvs500Job(&record), -1);
    EXPECT_EQ(SQLSelectKvs500JobDEV(&record), -1);
    EXPECT_EQ(SQLOpenKvs500Job("06"), -1);
    EXPECT_EQ(SQLFetchKvs500Job(&record), -1);
    EXPECT_EQ(SQLOpenKvs112Mnd(), -1);
    EXPECT_EQ(SQLCountPersonalstamm("T1"), -1);
    EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);
}

TEST_F(DbTest, StatementsWithoutAnyConnectionHandleReturnMinusOne) {
    EXPECT_EQ(DbDisconnect(), 0);
    EXPECT_EQ(DbDisconnect(), 0);
    TaskRecord record = jobRecord("20240101000000", "K");
    EXPECT_EQ(SQLInsertKvs500Job(&record), -1);
    EXPECT_EQ(SQLDeleteKvs500Job("a", "b"), -1);
    EXPECT_EQ(SQLSelectKvs500JobDEV(&record), -1);
    EXPECT_EQ(SQLOpenKvs112Mnd(), -1);
    EXPECT_EQ(SQLCountPersonalstamm("T1"), -1);
}

TEST_F(DbTest, ConnectWhileConnectedClosesOpenCursors) {
    insertJobRow("20240101000000", "A", "NULL", 0);
    ASSERT_EQ(SQLOpenKvs500Job("06"), 0);
    ASSERT_EQ(testDb().connect("MYSQL"), 0);
    TaskRecord record = jobRecord("", "");
    EXPECT_EQ(SQLFetchKvs500Job(&record), -1);  // the old cursor went with the old connection
    ASSERT_EQ(SQLOpenKvs500Job("06"), 0);
    EXPECT_EQ(SQLFetchKvs500Job(&record), 0);
    EXPECT_STREQ(record.JOBKE2, "A");
    SQLCloseKvs500Job();
}

TEST_F(DbTest, ConnectValuesAreCutTo23Characters) {
    // A data source whose name has exactly 23 characters is reached by any
    // longer name that starts with it.
    const std::string name = "KVSDB_ABCDEFGHIJKLMNOPQ";
    ASSERT_EQ(name.size(), 23u);
    std::string ini = readFile(testDb().dir() + "/odbc.ini");
    std::string section = ini.substr(ini.find('\n'));
    {
        std::ofstream out(testDb().dir() + "/odbc.ini", std::ios::app);
        out << "[" << name << "]" << section;
    }
    DbSetSystem("MYSQL");
    EXPECT_EQ(DbConnect(testDb().user().c_str(), testDb().password().c_str(),
                        (name + "-ignored").c_str()),
              0);
    EXPECT_EQ(SQLDeleteKvs500Job("x", "y"), 0);
}

class ReconnectTest : public DbTest {
   protected:
    void SetUp() override {
        DbTest::SetUp();
        std::error_code error;
        previous_ = std::filesystem::current_path(error);
        dir_.makeDir("korvantis_php/log");
        std::filesystem::current_path(dir_.makeDir("work"), error);
        ASSERT_FALSE(error);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    std::string log() const { return readFile(dir_.file("korvantis_php/log/kvstgbstr.log")); }

    TempDir dir_;
    std::filesystem::path previous_;
};

TEST_F(ReconnectTest, ReconnectAfterTheServerCameBack) {
    ASSERT_TRUE(testDb().stopServer());
    EXPECT_NE(SQLDeleteKvs500Job("x", "y"), 0);  // the connection is gone

    CaptureStdout();
    EXPECT_EQ(DbReconnect(), 0);
    EXPECT_EQ(GetCapturedStdout().rfind("Connect Error: SQLCode: ", 0), 0u);
    ASSERT_TRUE(testDb().startServer());
    EXPECT_EQ(DbReconnect(), 1);
    EXPECT_EQ(SQLDeleteKvs500Job("x", "y"), 0);

    std::string text = log();
    size_t first = text.find("- Datenbankverbindung reconnect!!!\n");
    size_t failed = text.find("- Datenbankverbindung herstellen fehlgeschlagen! RC: -1\n");
    size_t second = text.find("- Datenbankverbindung reconnect!!!\n", first + 1);
    size_t done = text.find("- Datenbankverbindung herstellen erfolgreich!\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_LT(first, failed);
    EXPECT_LT(failed, second);
    EXPECT_NE(second, std::string::npos);
    EXPECT_LT(second, done);
    EXPECT_NE(done, std::string::npos);
}

}  // namespace
