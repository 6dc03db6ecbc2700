-- The service's own schema on MySQL / MariaDB: the job table and the tenant
-- table. The service names the schema both KVSYSTEM and KvSystem, so the
-- server must run with lower_case_table_names=1. Texts are single-byte
-- Latin-1. Safe to run again: nothing that exists is dropped.

CREATE DATABASE IF NOT EXISTS KVSYSTEM CHARACTER SET latin1 COLLATE latin1_swedish_ci;

-- One row per worker job. JOBSTS has no default on purpose: a new row is
-- NULL there, which marks a job that was never started.
CREATE TABLE IF NOT EXISTS KVSYSTEM.KVS500JOB (
    JOBDA1 VARCHAR(14)  NOT NULL,
    JOBKE2 VARCHAR(32)  NOT NULL,
    JOBURV VARCHAR(256) NULL,
    JOBCMD VARCHAR(256) NULL,
    JOBRTY VARCHAR(2)   NULL,
    JOBSTS VARCHAR(2)   NULL,
    JOBNAM VARCHAR(64)  NULL,
    JOBUSR VARCHAR(128) NULL,
    JOBNUM VARCHAR(8)   NULL,
    JOBSDA VARCHAR(14)  NULL,
    JOBEDA VARCHAR(14)  NULL,
    JOBMRT INT          NULL,
    JOBSTV INT          NULL,
    PRIMARY KEY (JOBDA1, JOBKE2)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- One row per tenant. MndSch names the tenant's schema; MndLiz and MndNum
-- name its settings file; tenants with MndKon 1 and the tenant 'Firma 1'
-- get no workers.
CREATE TABLE IF NOT EXISTS KVSYSTEM.KVS112MND (
    MndNr  INT          NOT NULL AUTO_INCREMENT,
    MndSch VARCHAR(30)  NULL,
    MndLiz VARCHAR(5)   NULL,
    MndNum VARCHAR(5)   NULL,
    MndKon INT          NULL,
    MndNa1 VARCHAR(60)  NULL,
    PRIMARY KEY (MndNr)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
