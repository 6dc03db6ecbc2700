// Files that hold secrets.
#pragma once

#include <cstddef>
#include <cstdio>

// Writes size bytes of data as the whole content of the file at path, creating
// it or replacing the content of an existing one, readable and writable by the
// owner only (an existing file's wider permissions are narrowed). Returns 0,
// or the system error code; after a failure the file may be partly written.
int platWritePrivateFile(const char *path, const char *data, size_t size);

// What platOpenRegularFile found at a path.
enum PlatFileKind {
    PLAT_FILE_REGULAR = 0,
    PLAT_FILE_OPEN_FAILED,  // platLastError() tells why
    PLAT_FILE_DIRECTORY,
    PLAT_FILE_FIFO,    // also a named pipe
    PLAT_FILE_DEVICE,  // character or block device
    PLAT_FILE_OTHER,   // a socket, or a type the system does not name
};

// Opens path for reading as text when it is a regular file. The open never
// waits (a FIFO without a writer, a device), and anything else is refused
// before a byte is read. Returns the stream with *kind PLAT_FILE_REGULAR, or
// nullptr with *kind saying what was there or that the open failed.
FILE *platOpenRegularFile(const char *path, int *kind);
