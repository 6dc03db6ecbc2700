-- The service's own schema on Microsoft SQL Server: the job table and the
-- tenant table. Not runnable in this project's test setup (only MariaDB is
-- available there); written to match the MySQL script column for column.
-- Run it in the database that the service's login uses as its default
-- database. The service names the schema both KVSYSTEM and KvSystem: that
-- database's own collation must be case-insensitive (for example
-- Latin1_General_CI_AS), since it decides how object names compare; the
-- column collations below do not. VARCHAR keeps the texts single-byte.

IF SCHEMA_ID(N'KVSYSTEM') IS NULL
    EXEC (N'CREATE SCHEMA KVSYSTEM');
GO

-- One row per worker job. JOBSTS has no default on purpose: a new row is
-- NULL there, which marks a job that was never started.
IF OBJECT_ID(N'KVSYSTEM.KVS500JOB', N'U') IS NULL
CREATE TABLE KVSYSTEM.KVS500JOB (
    JOBDA1 VARCHAR(14)  COLLATE Latin1_General_CI_AS NOT NULL,
    JOBKE2 VARCHAR(32)  COLLATE Latin1_General_CI_AS NOT NULL,
    JOBURV VARCHAR(256) COLLATE Latin1_General_CI_AS NULL,
    JOBCMD VARCHAR(256) COLLATE Latin1_General_CI_AS NULL,
    JOBRTY VARCHAR(2)   COLLATE Latin1_General_CI_AS NULL,
    JOBSTS VARCHAR(2)   COLLATE Latin1_General_CI_AS NULL,
    JOBNAM VARCHAR(64)  COLLATE Latin1_General_CI_AS NULL,
    JOBUSR VARCHAR(128) COLLATE Latin1_General_CI_AS NULL,
    JOBNUM VARCHAR(8)   COLLATE Latin1_General_CI_AS NULL,
    JOBSDA VARCHAR(14)  COLLATE Latin1_General_CI_AS NULL,
    JOBEDA VARCHAR(14)  COLLATE Latin1_General_CI_AS NULL,
    JOBMRT INT          NULL,
    JOBSTV INT          NULL,
    CONSTRAINT PK_KVS500JOB PRIMARY KEY (JOBDA1, JOBKE2)
);
GO

-- One row per tenant. MndSch names the tenant's schema; MndLiz and MndNum
-- name its settings file; tenants with MndKon 1 and the tenant 'Firma 1'
-- get no workers.
IF OBJECT_ID(N'KVSYSTEM.KVS112MND', N'U') IS NULL
CREATE TABLE KVSYSTEM.KVS112MND (
    MndNr  INT IDENTITY(1, 1) NOT NULL,
    MndSch VARCHAR(30) COLLATE Latin1_General_CI_AS NULL,
    MndLiz VARCHAR(5)  COLLATE Latin1_General_CI_AS NULL,
    MndNum VARCHAR(5)  COLLATE Latin1_General_CI_AS NULL,
    MndKon INT NULL,
    MndNa1 VARCHAR(60) COLLATE Latin1_General_CI_AS NULL,
    CONSTRAINT PK_KVS112MND PRIMARY KEY (MndNr)
);
GO

-- A tenant's schema with its PERSONALSTAMM table, as far as the service reads
-- it (replace TENANT with the tenant's schema name):
--
-- CREATE SCHEMA TENANT;
-- GO
-- CREATE TABLE TENANT.PERSONALSTAMM (
--     PSTNR     INT IDENTITY(1, 1) NOT NULL PRIMARY KEY,
--     PSTNAM    VARCHAR(64) COLLATE Latin1_General_CI_AS NULL,
--     PSTBSVPZM INT NULL
-- );
-- GO
