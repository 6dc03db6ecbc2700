// Stand-in until the socket layer lands.
#include "net/socket.h"
KVSocket *sockNew(int32_t *e) { *e = 12; return nullptr; }
KVSocket *sockListen(uint16_t *, int32_t *e) { *e = 10022; return nullptr; }
int sockWaitReadable(PlatSocket, int) { return 0; }
KVSocket *sockAccept(KVSocket *, int, int32_t *e) { *e = 10022; return nullptr; }
int sockRecv(KVSocket *, char *, int, int) { return -1; }
int sockSend(KVSocket *, const char *, int, int) { return -1; }
int sockClose(KVSocket *) { return 0; }
int sockFree(KVSocket *) { return 0; }
int sockLastError(KVSocket *) { return 10022; }
int sockSetTimeLimit(KVSocket *, int) { return 10022; }
