// The log file, written for real into a temporary installation: the working
// directory is <tmp>/work, so the log lands in <tmp>/korvantis_php/log.
#include "log/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "tests/support/tempdir.h"

namespace {

const size_t STAMP = LOG_STAMP_LENGTH;  // "YYYY-mm-dd HH:MM:SS" and two blanks

bool isStamp(const std::string &text, size_t at) {
    const char *shape = "dddd-dd-dd dd:dd:dd  ";
    if (text.size() < at + STAMP) return false;
    for (size_t i = 0; i < STAMP; ++i) {
        char c = text[at + i];
        if (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(c)) : c != shape[i]) return false;
    }
    return true;
}

class LogTest : public testing::Test {
   protected:
    void SetUp() override {
        ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
        logDir_ = dir_.makeDir("korvantis_php/log");
        ASSERT_EQ(chdir(dir_.makeDir("work").c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(saved_), 0); }
    std::string logText() const { return readFile(logDir_ + "/kvstgbstr.log"); }
    std::string backupText() const { return readFile(logDir_ + "/kvstgbstr.bak"); }

    TempDir dir_;
    std::string logDir_;
    char saved_[4096];
};

TEST_F(LogTest, LineIsStampTwoBlanksAndMessageVerbatim) {
    writeLog("Fehler: 100% erledigt %s %d %n\n");
    std::string text = logText();
    ASSERT_TRUE(isStamp(text, 0)) << text;
    EXPECT_EQ(text.substr(STAMP), "Fehler: 100% erledigt %s %d %n\n");
}

TEST_F(LogTest, MultiLineMessageGetsOneStamp) {
    writeLog("erste\nzweite\n");
    std::string text = logText();
    ASSERT_TRUE(isStamp(text, 0));
    EXPECT_EQ(text.substr(STAMP), "erste\nzweite\n");
}

TEST_F(LogTest, MessageWithoutLineEndAndEmptyMessage) {
    writeLog("ohne Ende");
    writeLog("");
    writeLog("danach\n");
    std::string text = logText();
    // The next stamps follow on the same line.
    ASSERT_EQ(text.size(), 3 * STAMP + 9 + 7);
    EXPECT_EQ(text.substr(STAMP, 9), "ohne Ende");
    EXPECT_TRUE(isStamp(text, STAMP + 9));
    EXPECT_TRUE(isStamp(text, 2 * STAMP + 9));
    EXPECT_EQ(text.substr(3 * STAMP + 9), "danach\n");
}

TEST_F(LogTest, OverlongMessageIsCutToTheLineBuffer) {
    std::string longMessage(600, 'x');
    writeLog(longMessage.c_str());
    std::string text = logText();
    EXPECT_EQ(text.size(), STAMP + LOG_MAX_MESSAGE);
    EXPECT_EQ(text.substr(STAMP), std::string(LOG_MAX_MESSAGE, 'x'));

    // Exactly 482 characters still fit whole.
    std::string fits(LOG_MAX_MESSAGE - 1, 'y');
    fits += '\n';
    writeLog(fits.c_str());
    EXPECT_EQ(logText().substr(2 * STAMP + LOG_MAX_MESSAGE), fits);
}

TEST_F(LogTest, WriteLogfComposesInTheSharedBuffer) {
    writeLogf("Pipe %s geschlossen. %d\n", "X", 7);
    EXPECT_STREQ(g_logMessage, "Pipe X geschlossen. 7\n");
    EXPECT_EQ(logText().substr(STAMP), "Pipe X geschlossen. 7\n");
}

TEST_F(LogTest, RotatesOnlyPastTheLimitAndKeepsOneBackup) {
    ASSERT_TRUE(writeFile(logDir_ + "/kvstgbstr.bak", "alte Sicherung\n"));
    std::string full(static_cast<size_t>(LOG_ROTATE_BYTES), 'a');
    ASSERT_TRUE(writeFile(logDir_ + "/kvstgbstr.log", full));

    // Exactly at the limit: appended, no rotation.
    writeLog("grenze\n");
    std::string text = logText();
    ASSERT_EQ(text.size(), full.size() + STAMP + 7);
    EXPECT_EQ(backupText(), "alte Sicherung\n");

    // Past the limit: the whole file becomes the backup, the old backup goes,
    // the new log begins with this message.
    writeLog("neu\n");
    EXPECT_EQ(backupText(), text);
    std::string fresh = logText();
    ASSERT_TRUE(isStamp(fresh, 0));
    EXPECT_EQ(fresh.substr(STAMP), "neu\n");
}

TEST_F(LogTest, LinkInPlaceOfTheLogIsNeverFollowed) {
    std::string target = dir_.path() + "/fremd.txt";
    ASSERT_TRUE(writeFile(target, "fremd\n"));
    ASSERT_EQ(symlink(target.c_str(), (logDir_ + "/kvstgbstr.log").c_str()), 0);
    testing::internal::CaptureStderr();
    writeLog("erste\n");
    writeLog("zweite\n");
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(target), "fremd\n");
    EXPECT_EQ(said,
              "Logdatei ../korvantis_php/log/kvstgbstr.log ist ein symbolischer Link und wird "
              "nicht beschrieben, Meldungen gehen verloren!\n");  // once, with the path
}

TEST(LogMissingDir, NothingWrittenAndNoCrash) {
    TempDir dir;
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(dir.makeDir("work").c_str()), 0);
    EXPECT_EQ(openLog(), PLAT_LOG_NONE);
    writeLog("verloren\n");
    writeLogf("%s\n", "auch verloren");
    EXPECT_EQ(access("../korvantis_php", F_OK), -1);  // the log call creates no directory
    ASSERT_EQ(chdir(saved), 0);
}

}  // namespace
