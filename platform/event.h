// Named events shared between processes.
//
// Semantics every implementation keeps:
// - creating a name that exists opens the existing event (its reset mode stays);
// - an event disappears when the last handle to it in any process is closed,
//   also when that process crashed: opening the event of a dead worker fails;
//   an open racing the last close either fails or holds the live event, never
//   one whose name is already gone;
// - set on a manual-reset event keeps it signalled until reset; set on an
//   auto-reset event releases one wait and resets;
// - pulse releases the current waiters (all on manual reset, one on auto
//   reset) and leaves the event reset;
// - handles are never inherited by child processes;
// - a stop request (platform/signals.h) does not cut an event wait short.
#pragma once

#include <cstdint>

#include "platform/handle.h"

const uint32_t PLAT_WAIT_INFINITE = 0xFFFFFFFFu;

enum PlatWaitResult {
    PLAT_WAIT_SIGNALED = 0,
    PLAT_WAIT_TIMEOUT = 1,
    PLAT_WAIT_FAILED = 2,  // platLastError() tells why
};

// Creates the event, or opens it when the name exists. Returns the handle or
// PLAT_INVALID_HANDLE.
PlatHandle platEventCreate(const char *name, int manualReset, int initiallySignaled);

// Opens an existing event by name. PLAT_INVALID_HANDLE when no live process
// holds an event of that name.
PlatHandle platEventOpen(const char *name);

// Each returns 0, or a system error code (also platLastError()) for a handle
// that is not an open event.
int platEventSet(PlatHandle event);
int platEventReset(PlatHandle event);
int platEventPulse(PlatHandle event);

// Waits up to timeoutMs (PLAT_WAIT_INFINITE: no limit) for the event:
// PLAT_WAIT_SIGNALED, PLAT_WAIT_TIMEOUT, or PLAT_WAIT_FAILED for a handle that
// is not an open event (platLastError() tells why).
PlatWaitResult platEventWait(PlatHandle event, uint32_t timeoutMs);
