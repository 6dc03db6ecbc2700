// Stop requests: console control events (Ctrl-C, Ctrl-Break, closing the
// console, system shut-down) and the event that cuts every watched wait short.
#include "platform/signals.h"

#include <cstdio>

#include "platform/win32/internal.h"

static volatile LONG stopFlag = 0;
// Manual reset and never reset, so every later wait sees the stop at once,
// not just the one running when it arrived.
static HANDLE stopEvent = nullptr;

void winRaiseStop() {
    InterlockedExchange(&stopFlag, 1);
    if (stopEvent != nullptr) SetEvent(stopEvent);
}

HANDLE winStopEvent() {
    return stopEvent;
}

// Runs on a thread of its own. A logoff is no reason to stop: the service
// runs on without the user who started it (a scheduled task gets the logoff
// of every user). Closing the console and a system shut-down end the process
// as soon as this handler returns, so it holds on while the main thread runs
// the shutdown; the end of the process (or the system's time limit for the
// handler) ends this thread with it.
static BOOL WINAPI onConsoleEvent(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            winRaiseStop();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            winRaiseStop();
            Sleep(INFINITE);
            return TRUE;
        case CTRL_LOGOFF_EVENT:
            return TRUE;
        default:
            return FALSE;
    }
}

void platStopSignalsInstall() {
    if (stopEvent == nullptr)
        stopEvent = CreateEventA(nullptr, TRUE, stopFlag ? TRUE : FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int platStopRequested() {
    return InterlockedCompareExchange(&stopFlag, 0, 0) ? 1 : 0;
}

// The C runtime of Windows treats line buffering as full buffering, so each
// write goes out at once instead.
void platLineBufferedStdout() {
    setvbuf(stdout, nullptr, _IONBF, 0);
}

int winWaitObject(HANDLE object, DWORD timeoutMs, int ignoreStop) {
    if (!ignoreStop && platStopRequested()) return WIN_WAIT_STOPPED;
    HANDLE objects[2] = {object, stopEvent};
    DWORD count = !ignoreStop && stopEvent != nullptr ? 2 : 1;
    DWORD result = WaitForMultipleObjects(count, objects, FALSE, timeoutMs);
    if (result == WAIT_OBJECT_0) return WIN_WAIT_READY;
    if (result == WAIT_OBJECT_0 + 1) return WIN_WAIT_STOPPED;
    if (result == WAIT_TIMEOUT) return WIN_WAIT_TIMEOUT;
    return WIN_WAIT_FAILED;
}
