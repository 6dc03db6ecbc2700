-- A tenant's schema with its PERSONALSTAMM table, as far as the service reads
-- it: the head count is the number of rows whose PSTBSVPZM is 1. Replace
-- @SCHEMA@ with the tenant's schema name (letters, digits, _, $, # only).
CREATE DATABASE IF NOT EXISTS @SCHEMA@ CHARACTER SET latin1 COLLATE latin1_swedish_ci;

CREATE TABLE IF NOT EXISTS @SCHEMA@.PERSONALSTAMM (
    PSTNR     INT         NOT NULL AUTO_INCREMENT,
    PSTNAM    VARCHAR(64) NULL,
    PSTBSVPZM INT         NULL,
    PRIMARY KEY (PSTNR)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
