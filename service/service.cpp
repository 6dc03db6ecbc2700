// Stand-in until the service loop lands.
#include "service/service.h"
int runService() { return 1; }
