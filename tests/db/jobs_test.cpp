// The job-table statements against the real server: what a fetch delivers,
// which job is startable, quoting, and the texts of the other dialects.
#include "db/jobs.h"

#include <cstring>

#include "common/text.h"
#include "db/db.h"
#include "tests/db/db_env.h"

namespace {

bool sameRecord(const TaskRecord &a, const TaskRecord &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

// Fetches every row of type "06" through the cursor.
std::vector<TaskRecord> fetchAll() {
    std::vector<TaskRecord> rows;
    EXPECT_EQ(SQLOpenKvs500Job("06"), 0);
    for (;;) {
        TaskRecord record = jobRecord("", "");
        int rc = SQLFetchKvs500Job(&record);
        if (rc != 0) {
            EXPECT_EQ(rc, g_dbNoData);
            break;
        }
        rows.push_back(record);
    }
    EXPECT_EQ(SQLCloseKvs500Job(), 0);
    return rows;
}

TEST_F(DbTest, InsertedJobIsFetchedWithEveryColumn) {
    TaskRecord record = jobRecord("20240102030405", "DEV:T1#ALLE");
    kvsCopy(record.JOBURV, "T1#ALLE");
    kvsCopy(record.JOBCMD, "DEV_MYSQL.EXE T1 ALLE ../files/A107.ini");
    kvsCopy(record.JOBUSR, "T1#ALLE");
    record.JOBMRT = -7;
    ASSERT_EQ(SQLInsertKvs500Job(&record), 0);

    std::vector<TaskRecord> rows = fetchAll();
    ASSERT_EQ(rows.size(), 1u);
    const TaskRecord &row = rows[0];
    EXPECT_STREQ(row.JOBDA1, "20240102030405");
    EXPECT_STREQ(row.JOBKE2, "DEV:T1#ALLE");
    EXPECT_STREQ(row.JOBURV, "T1#ALLE");
    EXPECT_STREQ(row.JOBCMD, "DEV_MYSQL.EXE T1 ALLE ../files/A107.ini");
    EXPECT_STREQ(row.JOBRTY, "06");
    EXPECT_STREQ(row.JOBSTS, "");  // NULL: the cleared field stays empty
    EXPECT_STREQ(row.JOBUSR, "T1#ALLE");
    EXPECT_EQ(row.JOBMRT, -7);
    EXPECT_EQ(row.JOBSTV, 0);

    // The UPDATE writes the state columns and leaves the others.
    TaskRecord state = row;
    kvsCopy(state.JOBSTS, "01");
    kvsCopy(state.JOBNAM, "dev_mysql.exe");
    kvsCopy(state.JOBNUM, "4711");
    kvsCopy(state.JOBSDA, "20240102030406");
    kvsCopy(state.JOBCMD, "not written");
    state.JOBSTV = 3;
    ASSERT_EQ(SQLUpdateKvs500Job(&state), 0);
    EXPECT_EQ(testDb().query("SELECT JOBSTS, JOBNAM, JOBNUM, JOBSDA, JOBEDA, JOBSTV, JOBCMD "
                             "FROM KVSYSTEM.KVS500JOB"),
              "01\tdev_mysql.exe\t4711\t20240102030406\t\t3\t"
              "DEV_MYSQL.EXE T1 ALLE ../files/A107.ini\n");
}

TEST_F(DbTest, NullColumnLeavesTheFieldAsItWas) {
    insertJobRow("20240101000000", "A", "NULL", 0);
    ASSERT_EQ(SQLOpenKvs500Job("06"), 0);
    TaskRecord record = jobRecord("", "", "ZZ");
    ASSERT_EQ(SQLFetchKvs500Job(&record), 0);
    EXPECT_STREQ(record.JOBSTS, "ZZ");
    EXPECT_STREQ(record.JOBKE2, "A");
    SQLCloseKvs500Job();
}

TEST_F(DbTest, OverlongValuesAreCutAndStillDelivered) {
    ASSERT_TRUE(
        testDb().exec("ALTER TABLE KVSYSTEM.KVS500JOB MODIFY JOBCMD VARCHAR(400), "
                      "MODIFY JOBNUM VARCHAR(20)"));
    std::string cmd300(300, 'c');
    std::string cmd256(256, 'd');
    ASSERT_TRUE(testDb().exec(
        "INSERT INTO KVSYSTEM.KVS500JOB (JOBDA1, JOBKE2, JOBRTY, JOBCMD, JOBNUM, JOBSTV) VALUES "
        "('1', 'A', '06', '" +
        cmd300 +
        "', '123456789', 0), "
        "('1', 'B', '06', '" +
        cmd256 + "', '12345678', 0)"));
    std::vector<TaskRecord> rows = fetchAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::string(rows[0].JOBCMD), cmd300.substr(0, 256));
    EXPECT_STREQ(rows[0].JOBNUM, "12345678");
    EXPECT_EQ(std::string(rows[1].JOBCMD), cmd256);
    EXPECT_STREQ(rows[1].JOBNUM, "12345678");

    TaskRecord next = jobRecord("", "");
    EXPECT_EQ(SQLSelectKvs500JobDEV(&next), 0);
    EXPECT_EQ(std::string(next.JOBCMD), cmd300.substr(0, 256));
    ASSERT_TRUE(
        testDb().exec("DELETE FROM KVSYSTEM.KVS500JOB; ALTER TABLE KVSYSTEM.KVS500JOB "
                      "MODIFY JOBCMD VARCHAR(256), MODIFY JOBNUM VARCHAR(8)"));
}

TEST_F(DbTest, NoCursorOrNoRowLeavesTheRecordUntouched) {
    TaskRecord record = jobRecord("keep", "me", "01");
    TaskRecord before;
    memcpy(&before, &record, sizeof before);
    EXPECT_EQ(SQLFetchKvs500Job(&record), -1);
    EXPECT_EQ(SQLSelectKvs500JobDEV(&record), 100);  // empty table
    ASSERT_EQ(SQLOpenKvs500Job("06"), 0);
    EXPECT_EQ(SQLFetchKvs500Job(&record), 100);
    EXPECT_EQ(SQLCloseKvs500Job(), 0);
    EXPECT_EQ(SQLCloseKvs500Job(), 0);
    EXPECT_EQ(SQLFetchKvs500Job(&record), -1);
    EXPECT_TRUE(sameRecord(record, before));
}

TEST_F(DbTest, UpdateAndDeleteOfAMissingRowSucceed) {
    TaskRecord record = jobRecord("20240101000000", "none", "01");
    EXPECT_EQ(SQLUpdateKvs500Job(&record), 0);
    EXPECT_EQ(SQLDeleteKvs500Job("20240101000000", "none"), 0);
}

TEST_F(DbTest, FailuresCarryTheNativeCode) {
    TaskRecord record = jobRecord("20240101000000", "A");
    ASSERT_EQ(SQLInsertKvs500Job(&record), 0);
    EXPECT_EQ(SQLInsertKvs500Job(&record), 1062);
    const char *state = nullptr;
    const char *msg = nullptr;
    EXPECT_EQ(DbLastError(&state, &msg), 1062);
    EXPECT_STREQ(state, "23000");

    ASSERT_TRUE(testDb().exec("RENAME TABLE KVSYSTEM.KVS500JOB TO KVSYSTEM.KVS500OLD"));
    EXPECT_EQ(SQLOpenKvs500Job("06"), 1146);
    EXPECT_STREQ(g_diagRecord.sqlState, "42S02");
    EXPECT_EQ(SQLFetchKvs500Job(&record), -1);  // a failed open leaves no cursor
    EXPECT_EQ(SQLSelectKvs500JobDEV(&record), 1146);
    EXPECT_EQ(SQLUpdateKvs500Job(&record), 1146);
    EXPECT_EQ(SQLDeleteKvs500Job("a", "b"), 1146);
    EXPECT_STREQ(record.JOBKE2, "A");
    ASSERT_TRUE(testDb().exec("RENAME TABLE KVSYSTEM.KVS500OLD TO KVSYSTEM.KVS500JOB"));
}

TEST_F(DbTest, StartableJobsInKeyOrder) {
    // Inserted out of order; startable: NULL, two blanks, "90", "98" with 10 starts.
    insertJobRow("20240102000000", "B", "98", 10);
    insertJobRow("20240101000000", "Z", "  ", 0);
    insertJobRow("20240101000000", "C", "NULL", 0);
    insertJobRow("20240102000000", "A", "90", 1);
    // Never startable: running, too many starts, another job type.
    insertJobRow("20230101000000", "R", "01", 0);
    insertJobRow("20230101000000", "S", "NULL", 11);
    insertJobRow("20230101000000", "T", "98", 11);
    insertJobRow("20230101000000", "U", "NULL", 0, "07");

    std::string order;
    for (int i = 0; i < 10; ++i) {
        TaskRecord next = jobRecord("", "");
        int rc = SQLSelectKvs500JobDEV(&next);
        if (rc == 100) break;
        ASSERT_EQ(rc, 0);
        order += next.JOBKE2;
        kvsCopy(next.JOBSTS, "01");
        ASSERT_EQ(SQLUpdateKvs500Job(&next), 0);
    }
    EXPECT_EQ(order, "CZAB");
}

TEST_F(DbTest, DeleteBetweenFetchesKeepsTheCursor) {
    insertJobRow("1", "A", "NULL", 0);
    insertJobRow("1", "B", "NULL", 0);
    insertJobRow("1", "C", "NULL", 0);
    ASSERT_EQ(SQLOpenKvs500Job("06"), 0);
    TaskRecord record = jobRecord("", "");
    std::string seen;
    while (SQLFetchKvs500Job(&record) == 0) {
        seen += record.JOBKE2;
        EXPECT_EQ(SQLDeleteKvs500Job(record.JOBDA1, record.JOBKE2), 0);
    }
    SQLCloseKvs500Job();
    EXPECT_EQ(seen, "ABC");
    EXPECT_EQ(testDb().query("SELECT COUNT(*) FROM KVSYSTEM.KVS500JOB"), "0\n");
}

TEST_F(DbTest, QuotesInValuesRoundTrip) {
    TaskRecord record = jobRecord("2024'", "O'Brien's");
    kvsCopy(record.JOBCMD, "DEV 'x' ''");
    kvsCopy(record.JOBUSR, "O'B#ALLE");
    kvsCopy(record.JOBURV, "x\\' OR 'a'='a");  // a backslash must not open the literal
    ASSERT_EQ(SQLInsertKvs500Job(&record), 0);
    kvsCopy(record.JOBNAM, "it's C:\\");
    ASSERT_EQ(SQLUpdateKvs500Job(&record), 0);

    std::vector<TaskRecord> rows = fetchAll();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].JOBDA1, "2024'");
    EXPECT_STREQ(rows[0].JOBKE2, "O'Brien's");
    EXPECT_STREQ(rows[0].JOBCMD, "DEV 'x' ''");
    EXPECT_STREQ(rows[0].JOBUSR, "O'B#ALLE");
    EXPECT_STREQ(rows[0].JOBURV, "x\\' OR 'a'='a");
    EXPECT_STREQ(rows[0].JOBNAM, "it's C:\\");
    EXPECT_EQ(SQLDeleteKvs500Job("2024'", "O'Brien's"), 0);
    EXPECT_EQ(testDb().query("SELECT COUNT(*) FROM KVSYSTEM.KVS500JOB"), "0\n");

    // Latin-1 texts pass unchanged.
    TaskRecord umlaut = jobRecord("1", "M\xFC\x6Cler");
    ASSERT_EQ(SQLInsertKvs500Job(&umlaut), 0);
    EXPECT_EQ(testDb().query("SELECT HEX(JOBKE2) FROM KVSYSTEM.KVS500JOB"), "4DFC6C6C6572\n");
}

TEST_F(DbTest, TextThatWouldNotFitIsNotExecuted) {
    TaskRecord record = jobRecord("1", "A");
    memset(record.JOBCMD, '\'', sizeof record.JOBCMD - 1);
    memset(record.JOBURV, '\'', sizeof record.JOBURV - 1);
    EXPECT_EQ(SQLInsertKvs500Job(&record), -1);
    EXPECT_EQ(testDb().query("SELECT COUNT(*) FROM KVSYSTEM.KVS500JOB"), "0\n");
    // Full-width values without quotes fit.
    memset(record.JOBCMD, 'c', sizeof record.JOBCMD - 1);
    memset(record.JOBURV, 'u', sizeof record.JOBURV - 1);
    memset(record.JOBUSR, 'x', sizeof record.JOBUSR - 1);
    memset(record.JOBKE2, 'k', sizeof record.JOBKE2 - 1);
    EXPECT_EQ(SQLInsertKvs500Job(&record), 0);
    // A field without its terminator is read no further than its size.
    memset(record.JOBSTS, '9', sizeof record.JOBSTS);
    EXPECT_EQ(SQLTextUpdateKvs500Job(&record), 0);
    EXPECT_NE(strstr(g_sqlText, "JOBSTS = '999',"), nullptr);
}

class DialectTexts : public ::testing::Test {
   protected:
    void TearDown() override { DbSetSystem("MYSQL"); }
};

TEST_F(DialectTexts, NextStartableJobPerDialect) {
    DbSetSystem("ORACLE");
    ASSERT_EQ(SQLTextSelectKvs500JobDEV(), 0);
    EXPECT_STREQ(
        g_sqlText,
        " SELECT * FROM ( SELECT JOBDA1, JOBKE2, JOBURV, JOBCMD,         JOBRTY, JOBSTS, "
        "JOBNAM, JOBUSR,         JOBNUM, JOBSDA, JOBEDA, JOBMRT, JOBSTV  FROM "
        "KVSYSTEM.KVS500JOB  WHERE JOBRTY = '06'  AND  (JOBSTS is NULL OR JOBSTS = '  ' OR "
        "JOBSTS >= '90')  AND  JOBSTV < 11  ORDER BY JOBDA1, JOBKE2 )  WHERE ROWNUM = 1 ");
    DbSetSystem("MSSQL");
    ASSERT_EQ(SQLTextSelectKvs500JobDEV(), 0);
    EXPECT_STREQ(
        g_sqlText,
        " SELECT TOP 1 JOBDA1, JOBKE2, JOBURV, JOBCMD,               JOBRTY, JOBSTS, "
        "JOBNAM, JOBUSR,               JOBNUM, JOBSDA, JOBEDA, JOBMRT, JOBSTV  FROM "
        "KVSYSTEM.KVS500JOB  WHERE JOBRTY = '06'  AND  (JOBSTS is NULL OR JOBSTS = '  ' OR "
        "JOBSTS >= '90')  AND  JOBSTV < 11  ORDER BY JOBDA1, JOBKE2 ");
    DbSetSystem("MYSQL");
    ASSERT_EQ(SQLTextSelectKvs500JobDEV(), 0);
    EXPECT_STREQ(g_sqlText,
                 " SELECT JOBDA1, JOBKE2, JOBURV, JOBCMD,         JOBRTY, JOBSTS, JOBNAM, JOBUSR, "
                 "        JOBNUM, JOBSDA, JOBEDA, JOBMRT, JOBSTV  FROM KVSYSTEM.KVS500JOB  WHERE "
                 "JOBRTY = '06'  AND  (JOBSTS is NULL OR JOBSTS = '  ' OR JOBSTS >= '90')  AND  "
                 "JOBSTV < 11  ORDER BY JOBDA1, JOBKE2 LIMIT 0, 1 ");
    DbSetSystem("Oracle");
    EXPECT_EQ(SQLTextSelectKvs500JobDEV(), -1);
    TaskRecord record = jobRecord("", "");
    EXPECT_EQ(SQLSelectKvs500JobDEV(&record), -1);
}

TEST_F(DialectTexts, RowStatementTexts) {
    TaskRecord record = jobRecord("20240102030405", "DEV:T1#ALLE2", "01");
    kvsCopy(record.JOBURV, "T1#ALLE2");
    kvsCopy(record.JOBCMD, "DEV_MYSQL.EXE");
    kvsCopy(record.JOBNAM, "dev_mysql.exe");
    kvsCopy(record.JOBUSR, "T1#ALLE2");
    kvsCopy(record.JOBNUM, "123");
    kvsCopy(record.JOBSDA, "20240102030406");
    record.JOBSTV = -2;
    record.JOBMRT = 5;
    ASSERT_EQ(SQLTextUpdateKvs500Job(&record), 0);
    EXPECT_STREQ(g_sqlText,
                 "UPDATE KVSYSTEM.KVS500JOB SET    JOBSTS = '01',        JOBNAM = 'dev_mysql.exe', "
                 "       JOBUSR = 'T1#ALLE2',        JOBNUM = '123',        JOBSDA = "
                 "'20240102030406',        JOBEDA = '',        JOBSTV = -2  WHERE  JOBDA1 = "
                 "'20240102030405'  AND    JOBKE2 = 'DEV:T1#ALLE2' ");
    ASSERT_EQ(SQLTextInsertKvs500Job(&record), 0);
    EXPECT_STREQ(
        g_sqlText,
        " INSERT INTO KVSYSTEM.KVS500JOB         (JobDa1, JobKe2, JobUrv, JobCmd,          "
        "JobUsr, JobMrt, JobRty, JobStv)  VALUES ('20240102030405', 'DEV:T1#ALLE2', "
        "'T1#ALLE2', 'DEV_MYSQL.EXE', 'T1#ALLE2', 5, '06', 0) ");
    ASSERT_EQ(SQLTextDeleteKvs500Job("1", "it's"), 0);
    EXPECT_STREQ(g_sqlText,
                 "DELETE FROM KVSYSTEM.KVS500JOB WHERE  JOBDA1 = '1' AND    JOBKE2 = 'it''s' ");
    ASSERT_EQ(SQLTextOpenKvs500Job("06"), 0);
    EXPECT_STREQ(g_sqlText,
                 "SELECT JOBDA1, JOBKE2, JOBURV, JOBCMD,        JOBRTY, JOBSTS, JOBNAM,        "
                 "JOBUSR, JOBNUM, JOBSDA,        JOBEDA, JOBMRT, JOBSTV FROM   KVSYSTEM.KVS500JOB "
                 "WHERE  JOBRTY = '06' ");
}

TEST(DbQuote, DoublesQuotesAndReportsCuts) {
    char out[8];
    EXPECT_EQ(dbQuote(out, sizeof out, "a'b"), 0);
    EXPECT_STREQ(out, "a''b");
    EXPECT_EQ(dbQuote(out, sizeof out, "''''"), 1);  // eight quotes and NUL do not fit
    EXPECT_STREQ(out, "''''''");
    EXPECT_EQ(dbQuote(out, sizeof out, "abcdefg"), 0);
    EXPECT_EQ(dbQuote(out, sizeof out, "abcdefgh"), 1);
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_EQ(dbQuoteN(out, sizeof out, "a'bcdef", 2), 0);
    EXPECT_STREQ(out, "a''");
}

TEST_F(DialectTexts, BackslashIsDoubledOnlyWhereItEscapes) {
    char out[16];
    DbSetSystem("MYSQL");
    EXPECT_EQ(dbQuote(out, sizeof out, "a\\'b\\"), 0);
    EXPECT_STREQ(out, "a\\\\''b\\\\");
    DbSetSystem("MSSQL");
    EXPECT_EQ(dbQuote(out, sizeof out, "a\\'b\\"), 0);
    EXPECT_STREQ(out, "a\\''b\\");
}

}  // namespace
