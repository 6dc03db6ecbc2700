// Runs the real kvscipher program through the shell, the password on its
// standard input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/credentials.h"
#include "tests/support/tempdir.h"

namespace {

struct ToolRun {
    int status;
    std::string out;  // standard output and standard error
};

ToolRun kvscipher(const std::string &args, const std::string &stdinText = "") {
    const char *binDir = getenv("KVS_BIN_DIR");
    EXPECT_NE(nullptr, binDir);
    std::string command = "printf '%s' '" + stdinText + "' | '" +
                          std::string(binDir ? binDir : ".") + "/kvscipher' " + args +
                          " 2>&1; echo \"#rc=$?\"";
    ToolRun run{-1, ""};
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
    pclose(pipe);
    size_t mark = run.out.rfind("#rc=");
    if (mark != std::string::npos) {
        run.status = atoi(run.out.c_str() + mark + 4);
        run.out.erase(mark);
    }
    return run;
}

class Kvscipher : public ::testing::Test {
   protected:
    TempDir dir;
    std::string path = dir.file("korvantis.ini");
    std::string write(const std::string &login, const std::string &dbSystem,
                      const std::string &database) {
        return "write '" + path + "' --login '" + login + "' --db-system '" + dbSystem +
               "' --database '" + database + "'";
    }
};

TEST_F(Kvscipher, EncryptAndDecrypt) {
    ToolRun run = kvscipher("encrypt MYSQL");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("7269659624E4B7BD\n", run.out);
    run = kvscipher("decrypt 7269659624E4B7BD");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("MYSQL\n", run.out);
}

TEST_F(Kvscipher, WrittenFileReadsBackWithTheServiceReader) {
    ToolRun run = kvscipher(write("kvs_user", "MYSQL", "KVS_DSN"), "S3cr;et pw\r\n");
    ASSERT_EQ(0, run.status) << run.out;
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(path).permissions());
    std::string text = readFile(path);
    EXPECT_EQ(0u, text.find("1;LOGIN;\n1;LOGIN;"));
    EXPECT_EQ('\n', text.back());

    loadCredentials(path.c_str());
    EXPECT_STREQ("kvs_user", g_credentials.login);
    EXPECT_STREQ("S3cr;et pw", g_credentials.pass);
    EXPECT_STREQ("MYSQL", g_credentials.dbSystem);
    EXPECT_STREQ("KVS_DSN", g_credentials.database);

    run = kvscipher("check '" + path + "'");
    EXPECT_EQ(0, run.status);
    EXPECT_NE(std::string::npos, run.out.find("******"));
    EXPECT_EQ(std::string::npos, run.out.find("S3cr"));
    EXPECT_NE(std::string::npos, run.out.find("KVS_DSN"));
}

TEST_F(Kvscipher, WriteRefusesWhatTheServiceCannotUse) {
    EXPECT_EQ(2, kvscipher(write("u", "mysql", "DSN"), "pw\n").status);
    EXPECT_EQ(2, kvscipher(write("u", "DB2", "DSN"), "pw\n").status);
    EXPECT_EQ(2, kvscipher(write(std::string(24, 'u'), "MYSQL", "DSN"), "pw\n").status);
    EXPECT_EQ(2, kvscipher(write("u", "MYSQL", std::string(24, 'd')), "pw\n").status);
    EXPECT_EQ(2, kvscipher(write("u", "MYSQL", "DSN"), std::string(24, 'p') + "\n").status);
    EXPECT_EQ(2, kvscipher(write("u", "MYSQL", "DSN"), "").status);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(0, kvscipher(write(std::string(23, 'u'), "ORACLE", std::string(23, 'd')),
                           std::string(23, 'p'))
                     .status);
}

TEST_F(Kvscipher, CheckReportsEmptyValues) {
    std::string text = "1;LOGIN;\n1;LOGIN;7269659624E4B7BD\n";
    ASSERT_TRUE(writeFile(path, text));
    ToolRun run = kvscipher("check '" + path + "'");
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.out.find("PASS is empty"));
    EXPECT_EQ(1, kvscipher("check '" + dir.file("missing.ini") + "'").status);
}

TEST_F(Kvscipher, BadArgumentsShowUsage) {
    for (const char *args :
         {"", "encrypt", "encrypt a b", "rot13 x", "write f --login u --db-system MYSQL",
          "write f --login u --login v --db-system MYSQL --database d",
          "write f --user u --db-system MYSQL --database d"}) {
        ToolRun run = kvscipher(args, "pw\n");
        EXPECT_EQ(2, run.status) << args;
        EXPECT_NE(std::string::npos, run.out.find("usage:")) << args;
    }
}

}  // namespace
