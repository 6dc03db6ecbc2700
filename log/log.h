// The service's log file: one line per message, opened and closed for every
// message, rotated to a single backup past the size limit.
#pragma once

#include "common/text.h"
#include "platform/log_file.h"

enum {
    LOG_LINE_SIZE = 504,    // line buffer and shared message buffer, NUL included
    LOG_STAMP_LENGTH = 21,  // "YYYY-mm-dd HH:MM:SS" and two blanks
    LOG_MAX_MESSAGE = LOG_LINE_SIZE - 1 - LOG_STAMP_LENGTH,  // 482 characters
};

const long LOG_ROTATE_BYTES = 5000000;  // rotate when the file is larger than this
#define LOG_FILE_PATH "../korvantis_php/log/kvstgbstr.log"
#define LOG_BACKUP_PATH "../korvantis_php/log/kvstgbstr.bak"

// The shared buffer in which callers compose their messages.
extern char g_logMessage[LOG_LINE_SIZE];

// Opens the log for appending, rotating it first when it has grown past the
// limit. Returns the file or PLAT_LOG_NONE. A symbolic link in place of the
// log (or of the rotation's new file) is never followed; standard error names
// it once per process.
PlatLogFile openLog();

// Appends one finished message, prefixed with the local time. The message is
// never read as a format; one longer than LOG_MAX_MESSAGE is cut. A message
// that cannot be written is lost without a report.
void writeLog(const char *message);

// Composes a message into g_logMessage and writes it.
void writeLogf(const char *fmt, ...) KVS_PRINTF(1, 2);
