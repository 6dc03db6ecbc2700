// The directory that holds this user's named pipes and events on POSIX:
// $KVS_IPC_DIR, or /tmp/kvstgbstr-<uid>. Whoever can write there can plant
// or remove the objects the service and its workers talk through, so it must
// be a directory (not a symbolic link) of the process's own user that nobody
// else may enter. On Windows the names live in the system's namespace and
// there is nothing to check.
#pragma once

#include <cstddef>

const size_t PLAT_IPC_PROBLEM_SIZE = 1300;  // the directory path and what is wrong

// Checks the directory, making it (mode 0700, and its missing parents) when
// it does not exist. Returns 0 with problem empty, or a system error code
// (EACCES for a directory that is not safe) with one line for standard error
// in problem that names the directory and what is wrong with it. Until a
// check succeeds every pipe and event operation fails with that code.
int platIpcDirCheck(char *problem, size_t size);
