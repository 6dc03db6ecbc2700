// Start-up provisioning against the real job and tenant tables.
#include "tasks/provision.h"

#include <string>

#include "tests/tasks/fixture.h"

namespace {

using ProvisionTest = TasksDbTest;

std::string allKeys() {
    return testDb().query("SELECT JOBKE2 FROM KVSYSTEM.KVS500JOB ORDER BY JOBKE2");
}

TEST_F(ProvisionTest, EmptyTenantTableCreatesNothing) {
    CreateRT06Jobs();
    EXPECT_EQ("", allKeys());
    EXPECT_EQ("", logText());
}

TEST_F(ProvisionTest, JobsPerPartitionAndOneCorrectionJob) {
    ASSERT_TRUE(testDb().addTenant("PV_NONE", 0, "A1", "07"));
    ASSERT_TRUE(testDb().addTenant("PV_BIG", 2500, "B2", "11"));
    ASSERT_TRUE(
        testDb().exec("INSERT INTO KvSystem.Kvs112Mnd (MndSch, MndLiz, MndNum, MndKon, "
                      "MndNa1) VALUES ('PV_NOTABLE', 'C3', '01', 0, 'ohne Personal')"));
    CreateRT06Jobs();

    EXPECT_EQ(
        "DEV:PV_BIG#ALLE\nDEV:PV_BIG#ALLE2\nDEV:PV_BIG#ALLE3\nDEV:PV_BIG#KORR\n"
        "DEV:PV_NONE#ALLE\nDEV:PV_NONE#KORR\n",
        allKeys());
    EXPECT_EQ(
        "20000101000000\tPV_BIG#ALLE2\tDEV_MYSQL.EXE ../files/B211.ini USER:PV_BIG#ALLE2\t"
        "06\tNULL\tPV_BIG#ALLE2\t0\t0",
        jobRow("DEV:PV_BIG#ALLE2",
               "JOBDA1, JOBURV, JOBCMD, JOBRTY, JOBSTS, JOBUSR, JOBMRT, JOBSTV"));
    EXPECT_EQ("DEV_MYSQL.EXE ../files/A107.ini USER:PV_NONE#KORR",
              jobRow("DEV:PV_NONE#KORR", "JOBCMD"));
    EXPECT_EQ("", logText());
}

TEST_F(ProvisionTest, CleanUpRemovesOnlyRowsUsedByAWorker) {
    ASSERT_TRUE(insertJob("DEV:PV_OLD#ALLE", "DEV_MYSQL.EXE x USER:PV_OLD#ALLE", "dev_mysql.exe"));
    ASSERT_TRUE(insertJob("DEV:PV_OLD#ALLE2", "DEV_MYSQL.EXE x USER:PV_OLD#ALLE2", "DEVX"));
    ASSERT_TRUE(insertJob("DEV:PV_NEW#ALLE", "DEV_MYSQL.EXE x USER:PV_NEW#ALLE", ""));
    ASSERT_TRUE(insertJob("DEV:PV_OLD#KORR", "DEV_MYSQL.EXE x USER:PV_OLD#KORR", "de"));
    ASSERT_TRUE(insertJob("OTHER:PV_OLD", "OTHER.EXE", "dev_mysql.exe", 0, "07"));
    CheckRT06Jobs();
    EXPECT_EQ("DEV:PV_NEW#ALLE\nDEV:PV_OLD#KORR\nOTHER:PV_OLD\n", allKeys());
    EXPECT_EQ("NULL", jobRow("OTHER:PV_OLD", "JOBSTS"));
    EXPECT_EQ("", logText());

    // The row that was never started stays, and inserting it again fails.
    ASSERT_TRUE(testDb().addTenant("PV_NEW", 3, "N1", "01"));
    CreateRT06Jobs();
    EXPECT_EQ("Insert-Fehler: DEV (ALLE) Jobeintrag fuer Schema PV_NEW RC: 1062!\n",
              logText().substr(21));
    EXPECT_EQ("DEV_MYSQL.EXE x USER:PV_NEW#ALLE", jobRow("DEV:PV_NEW#ALLE", "JOBCMD"));
    EXPECT_EQ("DEV_MYSQL.EXE ../files/N101.ini USER:PV_NEW#KORR",
              jobRow("DEV:PV_NEW#KORR", "JOBCMD"));
}

TEST(ProvisionRecord, MssqlRunsTheSqlServerWorker) {
    TaskRecord record;
    fillRT06Job(&record, rt06ProgramName("MSSQL"), "S", "../files/X1.ini", 2);
    EXPECT_STREQ("DEV_SQLSERVER.EXE ../files/X1.ini USER:S#ALLE2", record.JOBCMD);
    EXPECT_STREQ("DEV:S#ALLE2", record.JOBKE2);
    EXPECT_STREQ("S#ALLE2", record.JOBURV);
    EXPECT_STREQ("S#ALLE2", record.JOBUSR);
    EXPECT_STREQ("06", record.JOBRTY);
    EXPECT_STREQ("20000101000000", record.JOBDA1);
    EXPECT_EQ(0, record.JOBSTV);

    fillRT06Job(&record, rt06ProgramName("ORACLE"), "S", "../files/X1.ini", RT06_CORRECTION_JOB);
    EXPECT_STREQ("DEV_ORACLE.EXE ../files/X1.ini USER:S#KORR", record.JOBCMD);
    fillRT06Job(&record, rt06ProgramName("MYSQL"), "S", "../files/X1.ini", 1);
    EXPECT_STREQ("DEV:S#ALLE", record.JOBKE2);
    EXPECT_STREQ("", record.JOBSTS);
}

}  // namespace
