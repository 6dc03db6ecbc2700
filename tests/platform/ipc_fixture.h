// Every test gets its own directory for named pipes and events (made on
// first use, so the tests also cover creating it).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/platform/child_process.h"
#include "tests/support/tempdir.h"

class IpcTest : public ::testing::Test {
   protected:
    void SetUp() override { setTestIpcDir(ipcDir().c_str()); }
    void TearDown() override { setTestIpcDir(nullptr); }
    std::string ipcDir() const { return temp_.file("ipc/objects"); }
    std::string tempFile(const std::string &name) const { return temp_.file(name); }
    bool ipcFileExists(const std::string &file) const {
        std::error_code ignored;
        return std::filesystem::exists(ipcDir() + "/" + file, ignored);
    }

   private:
    TempDir temp_;
};
