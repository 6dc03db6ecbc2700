// Named pipes over the system's own. Every pipe handle is opened for
// overlapped I/O, so a blocking read or connect can wait on the operation and
// on the stop event together; the non-blocking server (PIPE_NOWAIT) answers
// every call at once with the system's codes, mapped here.
#include "platform/pipe.h"

#include "platform/event.h"
#include "platform/signals.h"
#include "platform/win32/internal.h"

// The pipe holds 10 bytes outbound, as it always had. Inbound it gets room for a few
// messages instead of none: with none a client's write waits until the server
// reads, and a server that looks at its pipe once per pass of a slow loop
// (the control pipe) would hold the writer that much longer.
const DWORD OUT_BUFFER_SIZE = 10;
const DWORD IN_BUFFER_SIZE = 512;
const DWORD POLL_SLICE_MS = 10;

enum IoKind { IO_READ, IO_WRITE, IO_CONNECT };

static int pipeResult(int result, DWORD error) {
    SetLastError(error);
    return result;
}

static int startIo(HANDLE pipe, int kind, void *buf, DWORD size, OVERLAPPED *ov) {
    if (kind == IO_READ) return ReadFile(pipe, buf, size, nullptr, ov);
    if (kind == IO_WRITE) return WriteFile(pipe, buf, size, nullptr, ov);
    return ConnectNamedPipe(pipe, ov);
}

// One overlapped operation, waited for to its end. Returns 0 or the system
// error; *stopped tells that a stop request cut the wait short.
static DWORD runIo(HANDLE pipe, int kind, void *buf, DWORD size, DWORD *done, int ignoreStop,
                   int *stopped) {
    *done = 0;
    *stopped = 0;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) return GetLastError();
    DWORD error = startIo(pipe, kind, buf, size, &ov) ? 0 : GetLastError();
    if (error == 0 || error == ERROR_IO_PENDING) {
        if (error == ERROR_IO_PENDING &&
            winWaitObject(ov.hEvent, INFINITE, ignoreStop) != WIN_WAIT_READY) {
            *stopped = platStopRequested();
            CancelIoEx(pipe, &ov);
        }
        error = GetOverlappedResult(pipe, &ov, done, TRUE) ? 0 : GetLastError();
        if (error == 0) *stopped = 0;  // it completed before the cancel
    }
    CloseHandle(ov.hEvent);
    return error;
}

static int isNoWait(HANDLE pipe) {
    DWORD state = 0;
    if (!GetNamedPipeHandleStateA(pipe, &state, nullptr, nullptr, nullptr, nullptr, 0)) return 0;
    return (state & PIPE_NOWAIT) != 0;
}

static int openChecked(PlatHandle h) {
    if (platHandleOpen(h)) return 1;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

PlatHandle platPipeCreate(const char *pipePath, int nonBlocking) {
    if (pipePath == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return PLAT_INVALID_HANDLE;
    }
    // One instance: a second server of the name fails with "all pipe
    // instances are busy". Only the service's own user may attach (the
    // default would let every local user open it and hold the one instance);
    // the handle is not inherited.
    WinOwnerOnly security;
    DWORD error = winOwnerOnlyInit(&security);
    if (error != 0) {
        SetLastError(error);
        return PLAT_INVALID_HANDLE;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_REJECT_REMOTE_CLIENTS |
                     (nonBlocking ? PIPE_NOWAIT : PIPE_WAIT);
    HANDLE pipe = CreateNamedPipeA(pipePath, openMode, pipeMode, 1, OUT_BUFFER_SIZE, IN_BUFFER_SIZE,
                                   0, &attributes);
    WinKeepError keep;
    winOwnerOnlyFree(&security);
    return winPlat(pipe);
}

int platPipeNameTaken(uint32_t code) {
    return code == ERROR_PIPE_BUSY;
}

// ConnectNamedPipe's answers: a client attached (also one that has closed
// since: the next read says broken), or none yet.
static int connectResult(DWORD error) {
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return PLAT_PIPE_OK;
    if (error == 0 || error == ERROR_PIPE_LISTENING)
        return pipeResult(PLAT_PIPE_NO_CLIENT, ERROR_PIPE_LISTENING);
    return pipeResult(PLAT_PIPE_ERROR, error);
}

static int connectPipe(HANDLE pipe, int wait) {
    DWORD done = 0;
    int stopped = 0;
    DWORD error = runIo(pipe, IO_CONNECT, nullptr, 0, &done, 0, &stopped);
    if (stopped) return pipeResult(PLAT_PIPE_INTERRUPTED, ERROR_OPERATION_ABORTED);
    // A blocking connect that completed has a client, however it says so.
    if (wait && error == 0) return PLAT_PIPE_OK;
    return connectResult(error);
}

int platPipeConnect(PlatHandle h) {
    if (!openChecked(h)) return PLAT_PIPE_ERROR;
    HANDLE pipe = winHandle(h);
    return connectPipe(pipe, !isNoWait(pipe));
}

static int readResult(DWORD error) {
    switch (error) {
        case ERROR_PIPE_LISTENING:
            return pipeResult(PLAT_PIPE_NO_CLIENT, error);
        case ERROR_NO_DATA:
            return pipeResult(PLAT_PIPE_NO_DATA, error);
        case ERROR_BROKEN_PIPE:
        case ERROR_PIPE_NOT_CONNECTED:
            return pipeResult(PLAT_PIPE_BROKEN, error);
        default:
            return pipeResult(PLAT_PIPE_ERROR, error);
    }
}

int platPipeRead(PlatHandle h, void *buf, size_t size, size_t *got) {
    size_t ignored = 0;
    if (got == nullptr) got = &ignored;
    *got = 0;
    if (!openChecked(h)) return PLAT_PIPE_ERROR;
    if (size > 0 && buf == nullptr) return pipeResult(PLAT_PIPE_ERROR, ERROR_INVALID_PARAMETER);
    HANDLE pipe = winHandle(h);
    DWORD want = size > 0xFFFFFFu ? 0xFFFFFFu : static_cast<DWORD>(size);
    int blocking = !isNoWait(pipe);
    for (;;) {
        DWORD done = 0;
        int stopped = 0;
        DWORD error = runIo(pipe, IO_READ, buf, want, &done, 0, &stopped);
        if (stopped) return pipeResult(PLAT_PIPE_INTERRUPTED, ERROR_OPERATION_ABORTED);
        if (error == 0 || error == ERROR_MORE_DATA) {
            *got = done;
            return PLAT_PIPE_OK;
        }
        // A blocking server waits for its client first, as the contract has it.
        if (!blocking || error != ERROR_PIPE_LISTENING) return readResult(error);
        int attached = connectPipe(pipe, 1);
        if (attached != PLAT_PIPE_OK) return attached;
    }
}

int platPipeWrite(PlatHandle h, const void *buf, size_t size, size_t *written) {
    size_t ignored = 0;
    if (written == nullptr) written = &ignored;
    *written = 0;
    if (!openChecked(h)) return PLAT_PIPE_ERROR;
    if (size > 0 && buf == nullptr) return pipeResult(PLAT_PIPE_ERROR, ERROR_INVALID_PARAMETER);
    if (size > 0xFFFFFFu) return pipeResult(PLAT_PIPE_ERROR, ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    int stopped = 0;
    // A write runs to its end, as on every platform: it is never cut short.
    DWORD error = runIo(winHandle(h), IO_WRITE, const_cast<void *>(buf), static_cast<DWORD>(size),
                        &done, 1, &stopped);
    if (error == 0) {
        *written = done;
        // A non-blocking pipe without room takes only part: a failure too.
        return done == size ? PLAT_PIPE_OK : pipeResult(PLAT_PIPE_ERROR, ERROR_WRITE_FAULT);
    }
    if (error == ERROR_PIPE_LISTENING) return pipeResult(PLAT_PIPE_NO_CLIENT, error);
    // Writing, "no data" means the pipe is being closed by the other end.
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
        return pipeResult(PLAT_PIPE_BROKEN, error);
    return pipeResult(PLAT_PIPE_ERROR, error);
}

int platPipeDisconnect(PlatHandle h) {
    if (!openChecked(h)) return PLAT_PIPE_ERROR;
    HANDLE pipe = winHandle(h);
    if (!DisconnectNamedPipe(pipe)) return PLAT_PIPE_ERROR;
    // A non-blocking instance listens again at once; a blocking one does so
    // in its next connect or read, which wait for the client anyway.
    if (isNoWait(pipe)) {
        WinKeepError keep;
        connectPipe(pipe, 0);
    }
    return PLAT_PIPE_OK;
}

PlatHandle platPipeOpen(const char *pipePath, int *result) {
    int ignored = 0;
    if (result == nullptr) result = &ignored;
    *result = PLAT_PIPE_ERROR;
    if (pipePath == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return PLAT_INVALID_HANDLE;
    }
    // A server may act as its client only as far as identifying it: one that
    // took the name first learns who connected, and nothing more.
    HANDLE pipe = CreateFileA(pipePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                  SECURITY_IDENTIFICATION,
                              nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
        *result = PLAT_PIPE_OK;
        return winPlat(pipe);
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        *result = PLAT_PIPE_NOT_FOUND;
    if (error == ERROR_PIPE_BUSY) *result = PLAT_PIPE_BUSY;
    return PLAT_INVALID_HANDLE;
}

// Pipes have no readiness wait of their own: look, then pause on the stop
// event, until data or the end of the stream is there.
int platPipeWaitReadable(PlatHandle h, uint32_t timeoutMs) {
    if (!openChecked(h)) return -1;
    HANDLE pipe = winHandle(h);
    int64_t start = static_cast<int64_t>(GetTickCount64());
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            DWORD error = GetLastError();
            // The server closed (109) or disconnected (233): the end of the stream.
            return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ? 1 : -1;
        }
        if (available > 0) return 1;
        int64_t waited = static_cast<int64_t>(GetTickCount64()) - start;
        if (timeoutMs != PLAT_WAIT_INFINITE && waited >= timeoutMs) return 0;
        DWORD slice = POLL_SLICE_MS;
        if (timeoutMs != PLAT_WAIT_INFINITE && timeoutMs - waited < slice)
            slice = static_cast<DWORD>(timeoutMs - waited);
        if (platStopRequested()) return pipeResult(-1, ERROR_OPERATION_ABORTED);
        HANDLE stop = winStopEvent();
        if (stop != nullptr)
            WaitForSingleObject(stop, slice);
        else
            Sleep(slice);
    }
}
