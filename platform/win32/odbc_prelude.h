// Windows' ODBC headers expect the system's base types to be declared
// already; the database layer includes no system header itself, so this is
// put before its sources by the build (db/CMakeLists.txt).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
