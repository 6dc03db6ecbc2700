// The log's file, written with the system's own calls: per message one open,
// one seek, one write and one close, nothing buffered in between.
#pragma once

#include <cstddef>
#include <cstdint>

// The open file: a descriptor on POSIX, the file handle on Windows.
typedef intptr_t PlatLogFile;

const PlatLogFile PLAT_LOG_NONE = -1;

// Opens path for appending, creating it (mode 0666 less the umask). A symbolic
// link in its place is never followed: the open fails and *isLink is set to
// 1 (0 for every other outcome). Returns the file or PLAT_LOG_NONE.
PlatLogFile platLogOpen(const char *path, int *isLink);

// Moves to the end of the file and returns that position, the size in bytes
// on disk; -1 on failure.
int64_t platLogSeekEnd(PlatLogFile file);

// Appends length bytes of text with one write. On Windows every "\n" is stored
// as "\r\n" (text mode); text longer than PLAT_LOG_TEXT_MAX is cut there.
// Returns 0 or the system error code.
const size_t PLAT_LOG_TEXT_MAX = 1024;
int platLogWrite(PlatLogFile file, const char *text, size_t length);

// Closes the file; failures are ignored.
void platLogClose(PlatLogFile file);
