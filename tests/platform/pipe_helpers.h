// The pipe name and the small steps the pipe cases share.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/pipe.h"

const char NAME[] = "\\\\.\\pipe\\KVSTGBSTR";

inline PlatHandle openClient(const char *name, int expected) {
    int result = -1;
    PlatHandle client = platPipeOpen(name, &result);
    EXPECT_EQ(expected, result);
    EXPECT_EQ(expected == PLAT_PIPE_OK, platHandleOpen(client) != 0);
    return client;
}

inline std::string readServer(PlatHandle server, int expected) {
    char buf[32] = {};
    size_t got = 99;
    EXPECT_EQ(expected, platPipeRead(server, buf, sizeof buf - 1, &got));
    return std::string(buf, got);
}

inline int writeText(PlatHandle pipe, const char *text) {
    size_t written = 0;
    int rc = platPipeWrite(pipe, text, strlen(text), &written);
    if (rc == PLAT_PIPE_OK) {
        EXPECT_EQ(strlen(text), written);
    }
    return rc;
}
