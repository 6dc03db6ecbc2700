// The system's error texts, as Windows (or Wine) words them: only their shape
// is checked, the words differ between the two.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/handle.h"

static const uint32_t FILE_NOT_FOUND = 2;  // a code every system has a text for

TEST(PlatErrors, SystemTextIsOneLineOrKeepsTheSystemsLineEnd) {
    char oneLine[256], ownEnd[256];
    platErrorText(FILE_NOT_FOUND, 1, oneLine, sizeof oneLine);
    platErrorText(FILE_NOT_FOUND, 0, ownEnd, sizeof ownEnd);
    EXPECT_STRNE("No Info", oneLine);
    EXPECT_EQ(nullptr, strchr(oneLine, '\n'));
    EXPECT_EQ(nullptr, strchr(oneLine, '\r'));
    size_t length = strlen(ownEnd);
    ASSERT_GT(length, 0u);
    EXPECT_EQ('\n', ownEnd[length - 1]);
}

TEST(PlatErrors, WithoutSystemTextNoInfoAndTheTextIsCutToTheField) {
    char text[64];
    platErrorText(0x2FFFFFFFu, 1, text, sizeof text);
    EXPECT_STREQ("No Info", text);
    char tiny[5];
    memset(tiny, 'x', sizeof tiny);
    platErrorText(FILE_NOT_FOUND, 1, tiny, sizeof tiny);
    EXPECT_EQ(4u, strlen(tiny));
    platErrorText(FILE_NOT_FOUND, 1, nullptr, 0);  // no field: nothing written, no crash
}
