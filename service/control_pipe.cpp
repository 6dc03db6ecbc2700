#include "service/control_pipe.h"

#include <cstring>

#include "common/text.h"
#include "log/log.h"
#include "platform/pipe.h"

enum { ERROR_TEXT_SIZE = 256 };

// The single instance of the pipe; none until it is first created.
static PlatHandle s_pipe = PLAT_NO_HANDLE;

int openControlPipe(const char *pipeName) {
    if (platHandleOpen(s_pipe)) platCloseHandle(s_pipe);
    s_pipe = platPipeCreate(pipeName, 1);
    if (!platHandleOpen(s_pipe)) {
        // The system's text keeps its own line end here, as the message always had.
        char reason[ERROR_TEXT_SIZE];
        platErrorText(platLastError(), 0, reason, sizeof reason);
        writeLogf("Pipe %s konnte nicht erstellt werden! Info: %s\n", pipeName, reason);
        return 0;
    }
    // Non-blocking: takes a client that is already waiting, otherwise returns
    // at once; either way the pipe now listens.
    platPipeConnect(s_pipe);
    return 1;
}

// Answers "*PID". The answer is always "0": the job starter only checks
// that the service responds.
static void answerPid(const char *pipeName) {
    char answer[CONTROL_READ_SIZE + 1];
    kvsFormat(answer, sizeof answer, "%ld", 0L);
    size_t written = 0;
    if (platPipeWrite(s_pipe, answer, strlen(answer), &written) != PLAT_PIPE_OK) {
        char reason[ERROR_TEXT_SIZE];
        platErrorText(platLastError(), 1, reason, sizeof reason);
        writeLogf("In Pipe %s konnte nicht geschrieben werden! Error: %s\n", pipeName, reason);
    }
}

ControlAction decideControlMessage(const char *bytes, size_t count) {
    // One byte more than is read, so the text is always terminated.
    char text[CONTROL_READ_SIZE + 1];
    const size_t readSize = CONTROL_READ_SIZE;
    kvsCopyN(text, sizeof text, bytes, count < readSize ? count : readSize);
    if (strcmp(text, "*END") == 0) return CONTROL_STOP;
    if (strcmp(text, "*PID") == 0) return CONTROL_ANSWER_PID;
    return CONTROL_IGNORE;
}

int pollControlPipe(const char *pipeName) {
    char buffer[CONTROL_READ_SIZE];
    size_t got = 0;
    int rc = platPipeRead(s_pipe, buffer, CONTROL_READ_SIZE, &got);
    if (rc == PLAT_PIPE_BROKEN) {
        writeLogf("Pipe %s geschlossen. Neue Pipe wird erstellt!\n", pipeName);
        if (!openControlPipe(pipeName)) {
            writeLogf("KVSTGBSTR beenden: Pipe %s konnte nicht erstellt werden!\n", pipeName);
            return 0;
        }
    }
    // After a failed read nothing was received.
    if (rc != PLAT_PIPE_OK) got = 0;

    ControlAction action = decideControlMessage(buffer, got);
    if (action == CONTROL_STOP) {
        writeLogf("Endenachricht aus Pipe %s empfangen!\n", pipeName);
        return 0;
    }
    if (action == CONTROL_ANSWER_PID) answerPid(pipeName);
    return 1;
}
