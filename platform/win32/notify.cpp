// Windows services report their state through the service control manager,
// which this console program does not talk to.
#include "platform/notify.h"

int platNotify(const char *) {
    return 0;
}
