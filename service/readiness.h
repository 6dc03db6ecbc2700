// What the service tells systemd about itself: ready once it listens, with
// its port and running workers, and stopping once the main loop has ended.
#pragma once

#include <cstdint>

void notifyListening(uint16_t port);
void notifyStopping();
