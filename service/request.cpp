// Stand-in until the request protocol lands.
#include "service/request.h"
int parseRequest(ParamRecord *, const char *, int) { return 0; }
void handleRequest(KVSocket *client, char *, int, ParamRecord *) { sockFree(client); }
