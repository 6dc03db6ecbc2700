#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

char g_logMessage[LOG_LINE_SIZE];

static_assert(LOG_MAX_MESSAGE == 482, "stamp and message share the 504-byte line");
static_assert(LOG_LINE_SIZE <= PLAT_LOG_TEXT_MAX, "a line is written whole");

static int s_linkReported;

// A link in the log's place would let whoever made it point our lines at any
// file we may write. The message is dropped like one for an unopenable log.
static PlatLogFile openNoLink(const char *path) {
    int isLink = 0;
    PlatLogFile file = platLogOpen(path, &isLink);
    if (isLink && !s_linkReported) {
        s_linkReported = 1;
        fprintf(stderr,
                "Logdatei %s ist ein symbolischer Link und wird nicht beschrieben, "
                "Meldungen gehen verloren!\n",
                path);
    }
    return file;
}

PlatLogFile openLog() {
    PlatLogFile file = openNoLink(LOG_FILE_PATH);
    if (file == PLAT_LOG_NONE) return file;
    if (platLogSeekEnd(file) <= LOG_ROTATE_BYTES) return file;

    // One backup generation: the previous backup goes, the full log takes its
    // name. Either step may fail (no backup yet, file held elsewhere); the log
    // is reopened under its own name in every case.
    platLogClose(file);
    remove(LOG_BACKUP_PATH);
    rename(LOG_FILE_PATH, LOG_BACKUP_PATH);
    return openNoLink(LOG_FILE_PATH);
}

static void formatStamp(char *out, size_t size) {
    PlatLocalTime now;
    platLocalTime(&now);
    kvsFormat(out, size, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
              now.minute, now.second);
}

void writeLog(const char *message) {
    PlatLogFile file = openLog();
    char stamp[32];
    formatStamp(stamp, sizeof stamp);
    char line[LOG_LINE_SIZE];
    kvsFormat(line, sizeof line, "%s  %s", stamp, message);
    if (file == PLAT_LOG_NONE) return;
    platLogWrite(file, line, strlen(line));
    platLogClose(file);
}

void writeLogf(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    kvsFormatV(g_logMessage, sizeof g_logMessage, fmt, args);
    va_end(args);
    writeLog(g_logMessage);
}
