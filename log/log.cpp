#include "log/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/clock.h"

char g_logMessage[LOG_LINE_SIZE];

static_assert(LOG_MAX_MESSAGE == 482, "stamp and message share the 504-byte line");

FILE *openLog() {
    FILE *stream = fopen(LOG_FILE_PATH, "a");
    if (stream == nullptr) return nullptr;
    fseek(stream, 0, SEEK_END);
    long size = ftell(stream);
    if (size <= LOG_ROTATE_BYTES) return stream;

    // One backup generation: the previous backup goes, the full log takes its
    // name. Either step may fail (no backup yet, file held elsewhere); the log
    // is reopened under its own name in every case.
    fclose(stream);
    remove(LOG_BACKUP_PATH);
    rename(LOG_FILE_PATH, LOG_BACKUP_PATH);
    return fopen(LOG_FILE_PATH, "a");
}

static void formatStamp(char *out, size_t size) {
    PlatLocalTime now;
    platLocalTime(&now);
    kvsFormat(out, size, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
              now.minute, now.second);
}

void writeLog(const char *message) {
    FILE *stream = openLog();
    char stamp[32];
    formatStamp(stamp, sizeof stamp);
    char line[LOG_LINE_SIZE];
    kvsFormat(line, sizeof line, "%s  %s", stamp, message);
    if (stream == nullptr) return;
    fputs(line, stream);
    fclose(stream);
}

void writeLogf(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    kvsFormatV(g_logMessage, sizeof g_logMessage, fmt, args);
    va_end(args);
    writeLog(g_logMessage);
}
