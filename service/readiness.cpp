#include "service/readiness.h"

#include <cstring>

#include "common/text.h"
#include "platform/notify.h"
#include "tasks/task.h"

static int runningWorkers() {
    int running = 0;
    for (int32_t i = 0; i < g_taskTable.count; ++i)
        if (strcmp(g_taskTable.slots[i].JOBSTS, JOB_STATUS_RUNNING) == 0) ++running;
    return running;
}

void notifyListening(uint16_t port) {
    char state[128];
    kvsFormat(state, sizeof state, "READY=1\nSTATUS=Port %d, %d DEV-Prozesse laufen",
              static_cast<int>(port), runningWorkers());
    platNotify(state);
}

void notifyStopping() {
    platNotify("STOPPING=1\nSTATUS=KVSTGBSTR wird beendet");
}
