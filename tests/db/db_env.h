// One private server for every case of the database tests, started before
// the first case and connected as MYSQL. Cases that change the connection
// or the tables put them back as they found them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tasks/task.h"
#include "tests/support/mariadb.h"

PrivateMariaDb &testDb();

// Connected with dialect MYSQL, both tables empty.
class DbTest : public ::testing::Test {
   protected:
    void SetUp() override;
};

// A cleared record with the given key and status; JOBSTV 0, type "06".
TaskRecord jobRecord(const char *da1, const char *ke2, const char *sts = "");

// Inserts a job row directly (NULL for a value given as "NULL").
void insertJobRow(const std::string &da1, const std::string &ke2, const std::string &sts, int stv,
                  const std::string &type = "06");
