// Ending together with the parent process.
#pragma once

// Arranges that the calling process receives a stop request (platform/
// signals.h: SIGTERM on POSIX) when the process that started it ends, for
// whatever reason, SIGKILL included. Call it early, after
// platStopSignalsInstall(). Returns 0, also where the watch cannot be set up
// (the process then simply runs on), or PLAT_PARENT_GONE when the parent is
// known to have gone already: the caller should end as on a stop request.
//
// POSIX: the request comes when the thread that started the process ends,
// so a parent must start such children from a thread that lives as long as
// the parent (the service starts its workers from its only thread). The
// parent is taken as it was when the program was loaded; one that ended even
// before that goes unnoticed.
const int PLAT_PARENT_GONE = 1;
int platEndWithParent();
