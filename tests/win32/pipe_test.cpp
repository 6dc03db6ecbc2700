// Named pipes: the control pipe's non-blocking server and its client, in one
// process. The blocking server (the worker's) is met in process_test.cpp.
#include "platform/pipe.h"

#include <cstring>

#include "common/text.h"
#include "tests/win32/runner.h"

static void pipePath(char *out, unsigned size) {
    char name[64];
    winTestUniqueName("kvs-pipe", name, sizeof name);
    kvsFormat(out, size, "\\\\.\\pipe\\%s", name);
}

static int readInto(PlatHandle pipe, char *buf, size_t size, size_t *got) {
    memset(buf, 0, size);
    return platPipeRead(pipe, buf, size - 1, got);
}

WIN_TEST(nonBlockingServerReportsEachStateOfItsClient) {
    char path[96], buf[16];
    pipePath(path, sizeof path);
    size_t got = 99;
    PlatHandle server = platPipeCreate(path, 1);
    CHECK(platHandleOpen(server));
    CHECK_EQ(platPipeConnect(server), PLAT_PIPE_NO_CLIENT);
    CHECK_EQ(readInto(server, buf, sizeof buf, &got), PLAT_PIPE_NO_CLIENT);
    CHECK_EQ(got, 0);

    int result = -1;
    PlatHandle client = platPipeOpen(path, &result);
    CHECK_EQ(result, PLAT_PIPE_OK);
    CHECK_EQ(readInto(server, buf, sizeof buf, &got), PLAT_PIPE_NO_DATA);
    CHECK_EQ(platPipeWaitReadable(client, 0), 0);

    size_t written = 0;
    CHECK_EQ(platPipeWrite(client, "*PID", 4, &written), PLAT_PIPE_OK);
    CHECK_EQ(written, 4);
    CHECK_EQ(readInto(server, buf, sizeof buf, &got), PLAT_PIPE_OK);
    CHECK(got == 4 && strcmp(buf, "*PID") == 0);
    CHECK_EQ(platPipeWrite(server, "0", 1, &written), PLAT_PIPE_OK);
    CHECK_EQ(platPipeWaitReadable(client, 2000), 1);
    CHECK_EQ(readInto(client, buf, sizeof buf, &got), PLAT_PIPE_OK);
    CHECK(got == 1 && buf[0] == '0');

    platCloseHandle(client);
    CHECK_EQ(readInto(server, buf, sizeof buf, &got), PLAT_PIPE_BROKEN);
    CHECK_EQ(readInto(server, buf, sizeof buf, &got), PLAT_PIPE_BROKEN);  // until it is renewed
    CHECK_EQ(platPipeWrite(server, "0", 1, &written), PLAT_PIPE_BROKEN);
    platCloseHandle(server);
}

WIN_TEST(oneInstanceOneClientAndNamesGoWithTheirServer) {
    char path[96];
    pipePath(path, sizeof path);
    PlatHandle server = platPipeCreate(path, 1);
    CHECK_EQ(platPipeCreate(path, 1), PLAT_INVALID_HANDLE);  // a second server
    CHECK(platPipeNameTaken(platLastError()));
    int result = -1;
    PlatHandle client = platPipeOpen(path, &result);
    CHECK_EQ(result, PLAT_PIPE_OK);
    CHECK_EQ(platPipeConnect(server), PLAT_PIPE_OK);  // already attached
    CHECK_EQ(platPipeOpen(path, &result), PLAT_INVALID_HANDLE);
    CHECK_EQ(result, PLAT_PIPE_BUSY);

    // Dropped by the server, the instance takes the next client at once.
    CHECK_EQ(platPipeDisconnect(server), PLAT_PIPE_OK);
    platCloseHandle(client);
    PlatHandle next = platPipeOpen(path, &result);
    CHECK_EQ(result, PLAT_PIPE_OK);
    platCloseHandle(next);
    platCloseHandle(server);
    CHECK_EQ(platPipeOpen(path, &result), PLAT_INVALID_HANDLE);
    CHECK_EQ(result, PLAT_PIPE_NOT_FOUND);
}

WIN_TEST(theClientSeesTheServerGo) {
    char path[96], buf[8];
    pipePath(path, sizeof path);
    PlatHandle server = platPipeCreate(path, 1);
    int result = -1;
    PlatHandle client = platPipeOpen(path, &result);
    platCloseHandle(server);
    CHECK_EQ(platPipeWaitReadable(client, 1000), 1);  // the end of the stream
    size_t got = 0, written = 0;
    CHECK_EQ(readInto(client, buf, sizeof buf, &got), PLAT_PIPE_BROKEN);
    CHECK_EQ(platPipeWrite(client, "1", 1, &written), PLAT_PIPE_BROKEN);
    platCloseHandle(client);
}

WIN_TEST(badArgumentsFailWithoutCrashing) {
    size_t got = 0;
    char buf[4];
    CHECK_EQ(platPipeRead(PLAT_INVALID_HANDLE, buf, sizeof buf, &got), PLAT_PIPE_ERROR);
    CHECK_EQ(platPipeWrite(PLAT_NO_HANDLE, "x", 1, nullptr), PLAT_PIPE_ERROR);
    CHECK_EQ(platPipeWaitReadable(PLAT_INVALID_HANDLE, 0), -1);
    CHECK_EQ(platPipeCreate(nullptr, 1), PLAT_INVALID_HANDLE);
    int result = -1;
    CHECK_EQ(platPipeOpen(nullptr, &result), PLAT_INVALID_HANDLE);
    CHECK_EQ(result, PLAT_PIPE_ERROR);
}
