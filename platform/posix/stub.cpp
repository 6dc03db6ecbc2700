// Temporary stand-ins until the POSIX implementation lands.
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/handle.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "platform/socket.h"

int platCloseHandle(PlatHandle) { return 0; }
uint32_t platLastError() { return 0; }
void platErrorText(uint32_t, int, char *out, size_t size) { if (size) out[0] = 0; }
void platLocalTime(PlatLocalTime *out) { *out = PlatLocalTime{2000, 1, 1, 0, 0, 0}; }
void platSleepMs(uint32_t) {}
int64_t platMonotonicMs() { return 0; }
PlatHandle platPipeCreate(const char *, int) { return PLAT_INVALID_HANDLE; }
int platPipeConnect(PlatHandle) { return PLAT_PIPE_ERROR; }
int platPipeDisconnect(PlatHandle) { return PLAT_PIPE_ERROR; }
int platPipeRead(PlatHandle, void *, size_t, size_t *) { return PLAT_PIPE_ERROR; }
int platPipeWrite(PlatHandle, const void *, size_t, size_t *) { return PLAT_PIPE_ERROR; }
PlatHandle platPipeOpen(const char *, int *r) { *r = PLAT_PIPE_ERROR; return PLAT_INVALID_HANDLE; }
int platPipeWaitReadable(PlatHandle, uint32_t) { return -1; }
PlatHandle platEventCreate(const char *, int, int) { return PLAT_INVALID_HANDLE; }
PlatHandle platEventOpen(const char *) { return PLAT_INVALID_HANDLE; }
int platEventSet(PlatHandle) { return 0; }
int platEventReset(PlatHandle) { return 0; }
int platEventPulse(PlatHandle) { return 0; }
int platEventWait(PlatHandle, uint32_t) { return PLAT_WAIT_FAILED; }
uint32_t platProcessStart(const char *, uint32_t *) { return 1; }
PlatHandle platProcessOpen(uint32_t) { return PLAT_INVALID_HANDLE; }
int platProcessModuleName(PlatHandle, char *, size_t) { return 0; }
int platProcessAlive(uint32_t) { return 0; }
uint32_t platProcessSelf() { return 0; }
int platSockStartup() { return 0; }
int platSockError() { return 0; }
PlatSocket platSockTcp() { return PLAT_NO_SOCKET; }
int platSockReuseAddr(PlatSocket) { return -1; }
int platSockBindAny(PlatSocket, uint16_t) { return -1; }
int platSockListen(PlatSocket, int) { return -1; }
int platSockLocalPort(PlatSocket, uint16_t *) { return -1; }
int platSockLinger(PlatSocket, int, int) { return -1; }
int platSockConnect(PlatSocket, const char *, uint16_t) { return -1; }
int platSockWait(PlatSocket, int, int) { return -1; }
PlatSocket platSockAccept(PlatSocket) { return PLAT_NO_SOCKET; }
long platSockRecv(PlatSocket, void *, size_t) { return -1; }
long platSockSend(PlatSocket, const void *, size_t) { return -1; }
int platSockClose(PlatSocket) { return 0; }
void platStopSignalsInstall() {}
int platStopRequested() { return 0; }
void platLineBufferedStdout() {}
