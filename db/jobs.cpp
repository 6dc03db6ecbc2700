// The seven statements on the job table. Rows travel as TaskRecord values.
// The texts are sent exactly as the service has always sent them, runs of
// blanks included, so the database sees the same statements as before.
#include "db/jobs.h"

#include "db/statement.h"

namespace {

SQLHSTMT g_jobCursor = SQL_NULL_HSTMT;

// The thirteen columns of both row-delivering statements, in select order.
void bindJobColumns(SQLHSTMT stmt, TaskRecord *row) {
    dbBindText(stmt, 1, row->JOBDA1, sizeof row->JOBDA1);
    dbBindText(stmt, 2, row->JOBKE2, sizeof row->JOBKE2);
    dbBindText(stmt, 3, row->JOBURV, sizeof row->JOBURV);
    dbBindText(stmt, 4, row->JOBCMD, sizeof row->JOBCMD);
    dbBindText(stmt, 5, row->JOBRTY, sizeof row->JOBRTY);
    dbBindText(stmt, 6, row->JOBSTS, sizeof row->JOBSTS);
    dbBindText(stmt, 7, row->JOBNAM, sizeof row->JOBNAM);
    dbBindText(stmt, 8, row->JOBUSR, sizeof row->JOBUSR);
    dbBindText(stmt, 9, row->JOBNUM, sizeof row->JOBNUM);
    dbBindText(stmt, 10, row->JOBSDA, sizeof row->JOBSDA);
    dbBindText(stmt, 11, row->JOBEDA, sizeof row->JOBEDA);
    dbBindLong(stmt, 12, &row->JOBMRT);
    dbBindLong(stmt, 13, &row->JOBSTV);
}

void terminateJobTexts(TaskRecord *row) {
    dbTerminate(row->JOBDA1);
    dbTerminate(row->JOBKE2);
    dbTerminate(row->JOBURV);
    dbTerminate(row->JOBCMD);
    dbTerminate(row->JOBRTY);
    dbTerminate(row->JOBSTS);
    dbTerminate(row->JOBNAM);
    dbTerminate(row->JOBUSR);
    dbTerminate(row->JOBNUM);
    dbTerminate(row->JOBSDA);
    dbTerminate(row->JOBEDA);
}

// Fetches one row into a working copy, bound anew for this call; the
// caller's record takes it only when a row came.
int fetchJobRow(SQLHSTMT stmt, TaskRecord *record) {
    TaskRecord work = *record;
    bindJobColumns(stmt, &work);
    int result = dbFetch(stmt);
    if (result == 0) {
        terminateJobTexts(&work);
        *record = work;
    }
    return result;
}

const char kDevOracle[] =
    // ROWNUM is assigned before ORDER BY: the ordered rows go into a
    // subquery, so the first of them is the oldest startable job.
    " SELECT * FROM ( SELECT JOBDA1, JOBKE2, JOBURV, JOBCMD,         "
    "JOBRTY, JOBSTS, JOBNAM, JOBUSR,         JOBNUM, JOBSDA, JOBEDA, JOBMRT, JOBSTV  "
    "FROM KVSYSTEM.KVS500JOB  WHERE JOBRTY = '06'  "
    "AND  (JOBSTS is NULL OR JOBSTS = '  ' OR JOBSTS >= '90')  AND  JOBSTV < 11  "
    "ORDER BY JOBDA1, JOBKE2 )  WHERE ROWNUM = 1 ";

const char kDevMssql[] =
    " SELECT TOP 1 JOBDA1, JOBKE2, JOBURV, JOBCMD,               "
    "JOBRTY, JOBSTS, JOBNAM, JOBUSR,               JOBNUM, JOBSDA, JOBEDA, JOBMRT, JOBSTV  "
    "FROM KVSYSTEM.KVS500JOB  WHERE JOBRTY = '06'  "
    "AND  (JOBSTS is NULL OR JOBSTS = '  ' OR JOBSTS >= '90')  AND  JOBSTV < 11  "
    "ORDER BY JOBDA1, JOBKE2 ";

const char kDevMysql[] =
    " SELECT JOBDA1, JOBKE2, JOBURV, JOBCMD,         JOBRTY, JOBSTS, JOBNAM, JOBUSR,         "
    "JOBNUM, JOBSDA, JOBEDA, JOBMRT, JOBSTV  FROM KVSYSTEM.KVS500JOB  WHERE JOBRTY = '06'  "
    "AND  (JOBSTS is NULL OR JOBSTS = '  ' OR JOBSTS >= '90')  AND  JOBSTV < 11  "
    "ORDER BY JOBDA1, JOBKE2 LIMIT 0, 1 ";

}  // namespace

int SQLTextOpenKvs500Job(const char *jobType) {
    char type[64];
    if (dbQuote(type, sizeof type, jobType != nullptr ? jobType : "") != 0) return -1;
    return dbFormatText(
        "SELECT JOBDA1, JOBKE2, JOBURV, JOBCMD,        JOBRTY, JOBSTS, JOBNAM,        "
        "JOBUSR, JOBNUM, JOBSDA,        JOBEDA, JOBMRT, JOBSTV FROM   KVSYSTEM.KVS500JOB WHERE  "
        "JOBRTY = '%s' ",
        type);
}

int SQLTextSelectKvs500JobDEV() {
    const char *text = dbIsOracle()  ? kDevOracle
                       : dbIsMssql() ? kDevMssql
                       : dbIsMysql() ? kDevMysql
                                     : nullptr;
    if (text == nullptr) return -1;
    return kvsCopy(g_sqlText, text) ? -1 : 0;
}

int SQLTextUpdateKvs500Job(const TaskRecord *record) {
    DbQuoted<sizeof record->JOBSTS> sts = dbQuoteField(record->JOBSTS);
    DbQuoted<sizeof record->JOBNAM> nam = dbQuoteField(record->JOBNAM);
    DbQuoted<sizeof record->JOBUSR> usr = dbQuoteField(record->JOBUSR);
    DbQuoted<sizeof record->JOBNUM> num = dbQuoteField(record->JOBNUM);
    DbQuoted<sizeof record->JOBSDA> sda = dbQuoteField(record->JOBSDA);
    DbQuoted<sizeof record->JOBEDA> eda = dbQuoteField(record->JOBEDA);
    DbQuoted<sizeof record->JOBDA1> da1 = dbQuoteField(record->JOBDA1);
    DbQuoted<sizeof record->JOBKE2> ke2 = dbQuoteField(record->JOBKE2);
    return dbFormatText(
        "UPDATE KVSYSTEM.KVS500JOB SET    JOBSTS = '%s',        JOBNAM = '%s',        "
        "JOBUSR = '%s',        JOBNUM = '%s',        JOBSDA = '%s',        JOBEDA = '%s',        "
        "JOBSTV = %ld  WHERE  JOBDA1 = '%s'  AND    JOBKE2 = '%s' ",
        sts.text, nam.text, usr.text, num.text, sda.text, eda.text,
        static_cast<long>(record->JOBSTV), da1.text, ke2.text);
}

int SQLTextInsertKvs500Job(const TaskRecord *record) {
    DbQuoted<sizeof record->JOBDA1> da1 = dbQuoteField(record->JOBDA1);
    DbQuoted<sizeof record->JOBKE2> ke2 = dbQuoteField(record->JOBKE2);
    DbQuoted<sizeof record->JOBURV> urv = dbQuoteField(record->JOBURV);
    DbQuoted<sizeof record->JOBCMD> cmd = dbQuoteField(record->JOBCMD);
    DbQuoted<sizeof record->JOBUSR> usr = dbQuoteField(record->JOBUSR);
    DbQuoted<sizeof record->JOBRTY> rty = dbQuoteField(record->JOBRTY);
    return dbFormatText(
        " INSERT INTO KVSYSTEM.KVS500JOB         (JobDa1, JobKe2, JobUrv, JobCmd,          "
        "JobUsr, JobMrt, JobRty, JobStv)  VALUES ('%s', '%s', '%s', '%s', '%s', %ld, '%s', 0) ",
        da1.text, ke2.text, urv.text, cmd.text, usr.text, static_cast<long>(record->JOBMRT),
        rty.text);
}

int SQLTextDeleteKvs500Job(const char *jobda1, const char *jobke2) {
    char da1[2 * sizeof(TaskRecord::JOBDA1)];
    char ke2[2 * sizeof(TaskRecord::JOBKE2)];
    if (dbQuote(da1, sizeof da1, jobda1 != nullptr ? jobda1 : "") != 0 ||
        dbQuote(ke2, sizeof ke2, jobke2 != nullptr ? jobke2 : "") != 0)
        return -1;
    return dbFormatText("DELETE FROM KVSYSTEM.KVS500JOB WHERE  JOBDA1 = '%s' AND    JOBKE2 = '%s' ",
                        da1, ke2);
}

int SQLOpenKvs500Job(const char *jobType) {
    g_jobCursor = SQL_NULL_HSTMT;
    SQLHSTMT stmt;
    if (dbAllocStatement(&stmt) != 0) return -1;
    dbSetLockConcurrency(stmt);
    int result = SQLTextOpenKvs500Job(jobType);
    if (result == 0) result = dbExecute(stmt);
    if (result != 0) {
        dbFreeStatement(&stmt);
        return result;
    }
    g_jobCursor = stmt;
    return 0;
}

int SQLFetchKvs500Job(TaskRecord *record) {
    if (g_jobCursor == SQL_NULL_HSTMT) return -1;
    return fetchJobRow(g_jobCursor, record);
}

int SQLCloseKvs500Job() {
    dbFreeStatement(&g_jobCursor);
    return 0;
}

int SQLSelectKvs500JobDEV(TaskRecord *record) {
    if (SQLTextSelectKvs500JobDEV() != 0) return -1;
    SQLHSTMT stmt;
    if (dbAllocStatement(&stmt) != 0) return -1;
    int result = dbExecute(stmt);
    if (result == 0) result = fetchJobRow(stmt, record);
    dbFreeStatement(&stmt);
    return result;
}

int SQLUpdateKvs500Job(const TaskRecord *record) {
    if (SQLTextUpdateKvs500Job(record) != 0) return -1;
    return dbRunStatement();
}

int SQLInsertKvs500Job(const TaskRecord *record) {
    if (SQLTextInsertKvs500Job(record) != 0) return -1;
    return dbRunStatement();
}

int SQLDeleteKvs500Job(const char *jobda1, const char *jobke2) {
    if (SQLTextDeleteKvs500Job(jobda1, jobke2) != 0) return -1;
    return dbRunStatement();
}
