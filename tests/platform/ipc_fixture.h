// Every test gets its own directory for named pipes and events (made on
// first use, so the tests also cover creating it).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/tempdir.h"

class IpcTest : public ::testing::Test {
   protected:
    void SetUp() override { setenv("KVS_IPC_DIR", ipcDir().c_str(), 1); }
    void TearDown() override { unsetenv("KVS_IPC_DIR"); }
    std::string ipcDir() const { return temp_.file("ipc/objects"); }
    std::string tempFile(const std::string &name) const { return temp_.file(name); }
    bool ipcFileExists(const std::string &file) const {
        return access((ipcDir() + "/" + file).c_str(), F_OK) == 0;
    }

   private:
    TempDir temp_;
};
