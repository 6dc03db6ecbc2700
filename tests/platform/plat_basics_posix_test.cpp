// The system's error texts, as the C library words them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/handle.h"

TEST(PlatErrors, SystemTextOneLineOrWithLineEnd) {
    char text[128];
    platErrorText(ENOENT, 1, text, sizeof text);
    EXPECT_STREQ("No such file or directory", text);
    platErrorText(ENOENT, 0, text, sizeof text);
    EXPECT_STREQ("No such file or directory\n", text);
}

TEST(PlatErrors, UnknownCodeHasNoInfoAndTextIsCutToSize) {
    char text[128];
    platErrorText(987654, 1, text, sizeof text);
    EXPECT_STREQ("No Info", text);
    platErrorText(0xFFFFFFFFu, 0, text, sizeof text);
    EXPECT_STREQ("No Info", text);
    char small[6];
    memset(small, 'x', sizeof small);
    platErrorText(ENOENT, 1, small, sizeof small);
    EXPECT_STREQ("No su", small);
}
