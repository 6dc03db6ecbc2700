// Shared ground of the tests that run worker control and provisioning against
// the real database: one private server for the binary, a working directory
// with the log directory beside it, the workers found on PATH, and a private
// directory for pipes and events.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tasks/task.h"
#include "tests/support/mariadb.h"

PrivateMariaDb &testDb();

// The log written so far by the code under test.
std::string logText();

// "col1\tcol2..." of the job row with JOBKE2 ke2, "" when there is none.
std::string jobRow(const std::string &ke2, const std::string &columns);

// Inserts a job row of type 06 that has never run.
bool insertJob(const std::string &ke2, const std::string &cmd, const std::string &name = "",
               int attempts = 0, const std::string &type = "06");

// A task record read back from the job table (the next startable one).
bool selectStartable(TaskRecord *record);

// Waits until the process has ended (reaped or a zombie); false after 10 s.
bool waitProcessEnded(uint32_t pid);

// Empty job and tenant tables, empty task table and log; after each test every
// worker the task table knows is killed.
class TasksDbTest : public ::testing::Test {
   protected:
    void SetUp() override;
    void TearDown() override;
};
