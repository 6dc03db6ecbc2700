// Files that hold secrets.
#pragma once

#include <cstddef>

// Writes size bytes of data as the whole content of the file at path, creating
// it or replacing the content of an existing one, readable and writable by the
// owner only (an existing file's wider permissions are narrowed). Returns 0,
// or the system error code; after a failure the file may be partly written.
int platWritePrivateFile(const char *path, const char *data, size_t size);
