// One client request: parse "SCHEMA:<s> USER:<u> PARM:<n> END", hand the
// number to every task whose key is s#u, answer once, close the client.
#include "service/request.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "log/log.h"
#include "platform/signals.h"
#include "tasks/handoff.h"
#include "tasks/process.h"
#include "tasks/task.h"

#define MARKER_SCHEMA "SCHEMA:"
#define MARKER_USER " USER:"
#define MARKER_PARM " PARM:"
#define MARKER_END " END"

static_assert(sizeof(ParamRecord::Schema) == 21 && sizeof(ParamRecord::User) == 51,
              "schema of 20 and key of 50 characters");

// A value between two markers. Every marker is searched from the start of the
// text; a marker whose first occurrence does not follow the previous one, or
// a value longer than its field allows, makes the request malformed.
struct Span {
    const char *start;
    size_t length;
};

// Finds marker in text; on success *span runs from valueStart up to it.
static int takeValue(const char *text, const char *valueStart, const char *marker, Span *span) {
    const char *found = strstr(text, marker);
    if (found == nullptr || found < valueStart) return 0;
    span->start = valueStart;
    span->length = static_cast<size_t>(found - valueStart);
    return 1;
}

// Decimal value read the way atol does: white space, a sign, digits up to the
// first other character; no digits give 0. Values beyond 32 bits are held at
// the nearest limit instead of wrapping.
static int32_t parseNumber(const char *text, size_t length) {
    size_t i = 0;
    while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) i++;
    int negative = 0;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; i++) {
        value = value * 10 + (text[i] - '0');
        if (value > INT64_C(2147483648)) value = INT64_C(2147483648);
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

// Splits a terminated request text into the three values.
static int splitRequest(const char *text, Span *schema, Span *user, Span *number) {
    const char *schemaMarker = strstr(text, MARKER_SCHEMA);
    if (schemaMarker == nullptr) return 0;
    const char *afterSchema = schemaMarker + strlen(MARKER_SCHEMA);
    if (!takeValue(text, afterSchema, MARKER_USER, schema)) return 0;
    const char *afterUser = schema->start + schema->length + strlen(MARKER_USER);
    if (!takeValue(text, afterUser, MARKER_PARM, user)) return 0;
    const char *afterParm = user->start + user->length + strlen(MARKER_PARM);
    return takeValue(text, afterParm, MARKER_END, number);
}

int parseRequest(ParamRecord *param, const char *request, int length) {
    // The received bytes carry no terminator; a NUL among them ends the text.
    char text[REQUEST_BUFFER_SIZE + 1];
    size_t count = length > 0 ? static_cast<size_t>(length) : 0;
    if (count > REQUEST_BUFFER_SIZE) count = REQUEST_BUFFER_SIZE;
    kvsCopyN(text, sizeof text, request, count);

    Span schema, user, number;
    if (!splitRequest(text, &schema, &user, &number)) return 0;
    if (schema.length > PARAM_SCHEMA_CHARS || user.length > PARAM_USER_CHARS ||
        number.length > PARAM_NUMBER_CHARS) {
        return 0;
    }
    char userValue[PARAM_USER_CHARS + 1];
    kvsCopyN(param->Schema, sizeof param->Schema, schema.start, schema.length);
    kvsCopyN(userValue, sizeof userValue, user.start, user.length);
    // The key schema#user must fit as a whole; a cut key would reach the
    // wrong task.
    if (kvsFormat(param->User, sizeof param->User, "%s#%s", param->Schema, userValue)) return 0;
    param->PrmKey = parseNumber(number.start, number.length);
    return 1;
}

// The client's text as the log shows it: control characters (below 0x20, and
// 0x7F) as \xNN, so that no request can begin a line of its own in the log.
// Every other byte, Latin-1 letters and "%" included, stays as it is.
enum { LOGGED_USER_SIZE = 4 * PARAM_USER_CHARS + 1 };

// A text too long for out is cut before a whole character.
static void escapeControls(const char *text, char *out, size_t size) {
    static const char HEX[] = "0123456789ABCDEF";
    size_t at = 0;
    for (; *text != '\0'; text++) {
        unsigned char c = static_cast<unsigned char>(*text);
        int plain = c >= 0x20 && c != 0x7F;
        if (at + (plain ? 1 : 4) >= size) break;
        if (plain) {
            out[at++] = *text;
            continue;
        }
        out[at++] = '\\';
        out[at++] = 'x';
        out[at++] = HEX[c >> 4];
        out[at++] = HEX[c & 0x0F];
    }
    out[at] = '\0';
}

// Sends the 512-byte reply block "OK:%d END", NUL, zeros; then closes.
static void answerClient(KVSocket *client, char *buffer, int32_t prmKey) {
    writeLog("Ende Nachricht Client senden!\n");
    memset(buffer, 0, REQUEST_BUFFER_SIZE);
    kvsFormat(buffer, REQUEST_BUFFER_SIZE, "OK:%d END", prmKey);
    int sent = sockSend(client, buffer, REQUEST_BUFFER_SIZE, 1);
    if (sent < 1) printf("Fehler beim Antwortsenden (Error: %d)\n", sockLastError(client));
    printf("Client geantwortet: %s! Bytes: %d\n", buffer, sent);
    sockFree(client);
    printf("Clientanfrage beendet: Socket geschlossen! \n\n");
}

// Hands the number to one matching task; the first task whose worker
// finishes with it answers the client. Returns the new answered state.
static int activateTask(TaskRecord *task, const ParamRecord *param, KVSocket *client, char *buffer,
                        int answered) {
    char logged[LOGGED_USER_SIZE];
    escapeControls(task->JOBUSR, logged, sizeof logged);  // the same text as the client's key
    writeLogf("Task aktivieren: %s!\n", logged);
    task->parmKey = param->PrmKey;
    if (workTask(task)) {
        if (!answered) answerClient(client, buffer, param->PrmKey);
        answered = 1;
    } else {
        writeLog("Fehler workTask()!\n");
        checkTask(task);
    }
    task->parmKey = 0;
    return answered;
}

void handleRequest(KVSocket *client, char *buffer, int length, ParamRecord *param) {
    if (!parseRequest(param, buffer, length)) {
        writeLog("Parameter k\xF6nnen nicht verarbeitet werden!\n");
        sockFree(client);
        return;
    }
    char logged[LOGGED_USER_SIZE];
    escapeControls(param->User, logged, sizeof logged);
    writeLogf("Read Kvs001Prm: PrmKey: %ld User: %s!\n", static_cast<long>(param->PrmKey), logged);

    // Every task with the key gets the number, one after the other in slot
    // order, also after the client has been answered. A stop request ends
    // the walk: the shutdown comes first.
    int answered = 0;
    for (int32_t i = 0; i < g_taskTable.count && !platStopRequested(); i++) {
        TaskRecord *task = &g_taskTable.slots[i];
        if (strcmp(task->JOBUSR, param->User) == 0) {
            answered = activateTask(task, param, client, buffer, answered);
        }
    }
    if (!answered) sockFree(client);
}
