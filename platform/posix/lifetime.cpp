// Linux: the parent-death signal, plus a check against the parent id taken
// when the program was loaded, because the signal covers only a parent that
// ends after it was set. A parent id of 1 proves nothing by itself: in a
// container the service may well be process 1.
#include "platform/lifetime.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

static const pid_t startingParent = getppid();

int platEndWithParent() {
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) return 0;  // not armed; nothing else to do
    return getppid() == startingParent ? 0 : PLAT_PARENT_GONE;
}
