#include "config/credentials.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/blowfish.h"
#include "tests/support/tempdir.h"

namespace {

std::string hexOf(const std::string &plain) {
    char hex[512];
    EXPECT_EQ(1, encryptToHex(plain.c_str(), hex, sizeof hex, CREDENTIALS_KEY));
    return hex;
}

std::string record(const std::string &number, const std::string &key, const std::string &plain) {
    return number + ";" + key + ";\n" + number + ";" + key + ";" + hexOf(plain) + "\n";
}

std::string fourRecords() {
    return record("1", "LOGIN", "kvsuser") + record("2", "PASS", "g\xFCltig;2") +
           record("3", "DB_SYSTEM", "MSSQL") + record("4", "DATABASE", "KVS_DSN");
}

class CredentialsFile : public ::testing::Test {
   protected:
    TempDir dir;
    std::string path = dir.file("korvantis.ini");

    void load(const std::string &content) {
        ASSERT_TRUE(writeFile(path, content));
        loadCredentials(path.c_str());
    }
    void lookup(const std::string &content, const char *name, const char *key, int32_t number) {
        ASSERT_TRUE(writeFile(path, content));
        readCredentialRecord(name, key, number, path.c_str());
    }
    void expectCredentials(const char *login, const char *pass, const char *dbSystem,
                           const char *database) {
        EXPECT_STREQ(login, g_credentials.login);
        EXPECT_STREQ(pass, g_credentials.pass);
        EXPECT_STREQ(dbSystem, g_credentials.dbSystem);
        EXPECT_STREQ(database, g_credentials.database);
    }
};

TEST_F(CredentialsFile, ReadsTheFourValuesWithLfOrCrLf) {
    load(fourRecords());
    expectCredentials("kvsuser", "g\xFCltig;2", "MSSQL", "KVS_DSN");
    EXPECT_EQ(4, g_credentialRecord.number);  // the last lookup stays behind

    std::string crlf;
    for (char c : fourRecords()) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    load(crlf);
    expectCredentials("kvsuser", "g\xFCltig;2", "MSSQL", "KVS_DSN");
}

// A file that cannot be read is named once on standard error, with why; a
// FIFO in its place is refused at once instead of waiting for a writer.
TEST_F(CredentialsFile, MissingFileGivesEmptyValues) {
    std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::pair<std::string, std::string> unreadable[] = {
        {dir.file("missing.ini"), "No such file or directory"},
        {fifo, "keine regul\xE4re Datei (FIFO)"},
        {dir.path(), "keine regul\xE4re Datei (Verzeichnis)"},
    };
    for (const auto &file : unreadable) {
        load(fourRecords());
        testing::internal::CaptureStderr();
        loadCredentials(file.first.c_str());
        EXPECT_EQ("Zugangsdaten aus " + file.first + " nicht gelesen: " + file.second + "\n",
                  testing::internal::GetCapturedStderr());
        expectCredentials("", "", "", "");
        EXPECT_EQ(0, g_credentialRecord.number);
        EXPECT_STREQ("", g_credentialRecord.key);
    }
}

TEST_F(CredentialsFile, MatchesByNameKeyOrNumber) {
    lookup(fourRecords(), "nobody", "nokey", 3);
    EXPECT_STREQ("MSSQL", g_credentialRecord.value);
    lookup(fourRecords(), "PASS", "nokey", 99);  // the name of the first line
    EXPECT_STREQ("g\xFCltig;2", g_credentialRecord.value);
    lookup(fourRecords(), "nobody", "nokey", 99);
    EXPECT_EQ(0, g_credentialRecord.number);
    EXPECT_STREQ("", g_credentialRecord.name);
    EXPECT_STREQ("", g_credentialRecord.value);
}

TEST_F(CredentialsFile, RecordsThatMatchEveryLookup) {
    // Fewer than two ";" in the first line: empty name.
    load("1;LOGIN\n1;LOGIN;" + hexOf("alle") + "\n" + fourRecords());
    expectCredentials("alle", "alle", "alle", "alle");
    // Number 0, or a number text without digits.
    load(record("0", "LOGIN", "null") + fourRecords());
    expectCredentials("null", "null", "null", "null");
    load(record("x1", "LOGIN", "text") + fourRecords());
    expectCredentials("text", "text", "text", "text");
    // Only 11 characters of the number text are read: twelve digits "000000000007" read as 0.
    load(record("000000000007", "LOGIN", "lang") + fourRecords());
    expectCredentials("lang", "lang", "lang", "lang");
}

TEST_F(CredentialsFile, FirstRecordOfAKeyWins) {
    load(record("1", "LOGIN", "erster") + record("5", "LOGIN", "zweiter") + fourRecords());
    EXPECT_STREQ("erster", g_credentials.login);
    EXPECT_STREQ("MSSQL", g_credentials.dbSystem);
}

TEST_F(CredentialsFile, AdjacentSeparatorsKeepTheRestOfTheLine) {
    std::string hex = hexOf("wert");
    lookup("1;;\n1;LOGIN;" + hex + "\n", "", "LOGIN", 0);
    EXPECT_STREQ(";\n", g_credentialRecord.name);
    EXPECT_STREQ("wert", g_credentialRecord.value);
    // Such a name does not match the empty name of the service's lookups.
    load("1;;\n1;PASS;" + hex + "\n" + fourRecords());
    expectCredentials("kvsuser", "wert", "MSSQL", "KVS_DSN");

    lookup("7;X;\n7;;" + hex + "\n", "", "", 7);
    EXPECT_EQ((";" + hex + "\n").c_str(), std::string(g_credentialRecord.key));
    EXPECT_STREQ("wert", g_credentialRecord.value);
}

TEST_F(CredentialsFile, SecondLineWithOneOrNoSeparator) {
    std::string hex = hexOf("eins");
    lookup("7;X;\n7;" + hex + "\n", "", "", 99);  // matched by its empty key
    EXPECT_EQ(7, g_credentialRecord.number);
    EXPECT_STREQ("", g_credentialRecord.key);
    EXPECT_STREQ("eins", g_credentialRecord.value);

    // No ";" at all: the whole line, line feed included, is the value and the
    // number is 0. The line feed makes a short last group of one digit.
    lookup("7;X;\n" + hex + "\n", "none", "none", 0);
    EXPECT_EQ(0, g_credentialRecord.number);
    EXPECT_STREQ("", g_credentialRecord.key);
    char expected[64];
    decryptHexText((hex + "\n").c_str(), expected, CREDENTIALS_KEY);
    EXPECT_STREQ(expected, g_credentialRecord.value);
}

TEST_F(CredentialsFile, FileEndsWithoutLineBreakOrWithASingleLine) {
    std::string text = fourRecords();
    load(text.substr(0, text.size() - 1));
    expectCredentials("kvsuser", "g\xFCltig;2", "MSSQL", "");
    // An odd last line is ignored, even one that would match everything.
    load(record("1", "LOGIN", "kvsuser") + "x\n");
    expectCredentials("kvsuser", "", "", "");
}

TEST_F(CredentialsFile, CrLfSplitAtTheFirstLineLimit) {
    // 198 characters and CR LF: the CR is the 199th character read, its LF
    // must still end the same line instead of making an empty next line.
    std::string first = "1;LOGIN;" + std::string(190, 'x') + "\r\n";
    load(first + "1;LOGIN;" + hexOf("kvsuser") + "\r\n" + record("2", "PASS", "pw"));
    EXPECT_STREQ("kvsuser", g_credentials.login);
    EXPECT_STREQ("pw", g_credentials.pass);
}

TEST_F(CredentialsFile, OverlongLinesContinueAsTheNextLine) {
    // The first 199 characters are the first line; the rest is the second.
    std::string first = "9;NAME;" + std::string(192, 'x');
    load(first + "1;LOGIN;" + hexOf("kvsuser") + "\n" + record("2", "PASS", "pw"));
    EXPECT_STREQ("kvsuser", g_credentials.login);
    EXPECT_STREQ("pw", g_credentials.pass);

    // A second line cut at 399 characters has no line feed: empty value. Its
    // remainder becomes the first line (empty name) of the next record.
    std::string second = "1;LOGIN;" + std::string(400, 'A') + "\n";
    load("1;LOGIN;\n" + second + "2;PASS;" + hexOf("rest") + "\n");
    expectCredentials("", "rest", "rest", "rest");
}

TEST_F(CredentialsFile, OverlongValuesAreCut) {
    std::string hex = hexOf(std::string(100, 'L'));  // 208 digits, 8 past the field
    std::string file = "1;LOGIN;\n1;LOGIN;" + hex + "\n" +
                       record("3", "DB_SYSTEM", "MYSQLMYSQLMYSQL") +
                       record("4", "DATABASE", std::string(60, 'D'));
    load(file);
    char kept[128];  // the field keeps 200 digits: 12 whole blocks and a short group
    decryptHexText(hex.substr(0, 200).c_str(), kept, CREDENTIALS_KEY);
    EXPECT_STREQ(kept, g_credentials.login);
    EXPECT_EQ(std::string(96, 'L'), std::string(g_credentials.login).substr(0, 96));
    EXPECT_STREQ("MYSQLMYSQL", g_credentials.dbSystem);
    EXPECT_EQ(std::string(40, 'D'), g_credentials.database);
}

TEST_F(CredentialsFile, LowerCaseHexReadsAsOtherBytes) {
    std::string hex = hexOf("kvsuser");
    std::string lower = hex;
    for (char &c : lower) c = char(tolower(c));
    ASSERT_NE(hex, lower);
    load("1;LOGIN;\n1;LOGIN;" + lower + "\n");
    EXPECT_STRNE("kvsuser", g_credentials.login);
}

TEST_F(CredentialsFile, ConnectFailureTextHidesThePassword) {
    ASSERT_TRUE(writeFile(path, record("1", "LOGIN", "kvsuser") + record("2", "PASS", "geheim99") +
                                    record("3", "DB_SYSTEM", "DB2") +
                                    record("4", "DATABASE", "KVS_DSN")));
    testing::internal::CaptureStdout();
    int result = readCredentials(path.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, result);
    EXPECT_NE(
        std::string::npos,
        out.find("Datenbankverbindung fehlgeschlagen, Fehler: -1\nUser: kvsuser\nPwd:  ****** \n"
                 "Database: KVS_DSN\nDbSystem: DB2 \n"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("geheim99"));
}

}  // namespace
