#include "service/service.h"

#include <cstdio>
#include <cstring>

#include "config/credentials.h"
#include "log/log.h"
#include "net/port.h"
#include "net/socket.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/ipc_dir.h"
#include "platform/signals.h"
#include "service/control_pipe.h"
#include "service/readiness.h"
#include "service/request.h"
#include "tasks/persist.h"
#include "tasks/process.h"
#include "tasks/provision.h"
#include "tasks/task.h"

enum { ERROR_TEXT_SIZE = 256 };

// Exit statuses of runService (see main.cpp).
enum { SERVICE_EXIT_STOPPED = 0, SERVICE_EXIT_STARTUP = 1, SERVICE_EXIT_FAILED_WAIT = 1 };

// What the main loop holds for the life of the process.
struct Service {
    PlatHandle stopEvent;
    KVSocket *listener;
    uint16_t port;                     // as the listener reports it after binding
    int32_t lastError;                 // of the listener or of the last wait for a client
    int acceptDeferred;                // silent connections wait in the system, not here
    char buffer[REQUEST_BUFFER_SIZE];  // the request, and later the reply
};

// The result of one wait for a client.
enum ClientWait { WAIT_CLIENT, WAIT_NONE, WAIT_LEAVE };

// ---- start-up ---------------------------------------------------------------

static int connectDatabase() {
    int rc = readCredentials(CREDENTIALS_PATH);
    if (rc != 0) {
        writeLogf("- Verbindung zur Datenbank fehlgeschlagen, Fehler : %d\n", rc);
        return 0;
    }
    return 1;
}

// The workers know the stop event by its name; the service only holds it.
// The stop event is the first object in the IPC directory; a directory that
// others could enter is named on standard error, and the event then fails.
static int createStopEvent(Service *svc) {
    char problem[PLAT_IPC_PROBLEM_SIZE];
    if (platIpcDirCheck(problem, sizeof problem) != 0) fputs(problem, stderr);
    svc->stopEvent = platEventCreate(STOP_EVENT_NAME, 1, 0);
    if (platHandleOpen(svc->stopEvent)) return 1;
    char reason[ERROR_TEXT_SIZE];
    platErrorText(platLastError(), 1, reason, sizeof reason);
    writeLogf("Stop-Eventhandle f\xFCr TGBs konnte nicht erzeugt werden: %s", reason);
    return 0;
}

static int createControlPipe() {
    if (openControlPipe(CONTROL_PIPE_NAME)) return 1;
    writeLog("Fehler bei der Erstellung der Kommunikationspipe zum JobStarter!\n");
    return 0;
}

static int openListener(Service *svc) {
    const char *rejected = nullptr;
    uint16_t requested = portFromEnvironment(SERVICE_PORT, &rejected);
    if (rejected != nullptr) writeLogf(PORT_REJECTED_FORMAT, rejected, static_cast<int>(requested));
    svc->port = requested;
    svc->listener = sockListen(&svc->port, &svc->lastError);
    if (svc->listener != nullptr) {
        // Where the system cannot defer (Windows) the receive limit alone
        // bounds a silent client.
        svc->acceptDeferred = sockDeferAccept(svc->listener, CLIENT_RECV_TIME_LIMIT) == 0;
        return 1;
    }
    writeLogf("Fehler Serversocket an Port %ld erzeugen. %d\n", static_cast<long>(requested),
              svc->lastError);
    return 0;
}

// Steps 1 to 11. 0 when a step that the service cannot run without failed.
static int startUp(Service *svc) {
    g_taskTable.count = 0;
    writeLog(
        "****************************************\n"
        "** Programm KVSTGBSTR wurde gestartet **\n");
    if (!connectDatabase() || !createStopEvent(svc) || !createControlPipe() || !openListener(svc))
        return 0;
    // These report their own failures and never end the start-up. Clients
    // that connect meanwhile wait in the listen queue.
    CheckRT06Jobs();
    CreateRT06Jobs();
    startAllTasks();
    TaskInfo();
    printf("Server listening on Port %d\n", static_cast<int>(svc->port));
    fflush(stdout);
    notifyListening(svc->port);
    return 1;
}

// ---- main loop --------------------------------------------------------------

static int stopSignalled() {
    if (!platStopRequested()) return 0;
    writeLog("Stopsignal empfangen! KVSTGBSTR wird beendet.\n");
    return 1;
}

// While a job row lacks its record's state the wait is short, so the row is
// written soon after the database answers again.
static ClientWait waitForClient(Service *svc, KVSocket **client) {
    int seconds = CLIENT_WAIT_SECONDS;
    if (tasksUnsaved()) seconds = PERSIST_RETRY_SECONDS;
    *client = sockAccept(svc->listener, seconds, &svc->lastError);
    if (*client != nullptr) return WAIT_CLIENT;
    if (svc->lastError == 0) return WAIT_NONE;
    // A stop signal cuts the wait short; that is a stop, not a fault.
    if (stopSignalled()) return WAIT_LEAVE;
    writeLogf("Fehler beim Warten auf Clientverbindung! Fehler: %d\n", svc->lastError);
    return WAIT_LEAVE;
}

// The request carries no terminator (a full one leaves no room for it), so
// exactly the received bytes are printed.
static void printClientMessage(const char *bytes, int count) {
    fputs("Clientmessage: ", stdout);
    fwrite(bytes, 1, static_cast<size_t>(count), stdout);
    printf("! Bytes: %d\n", count);
}

// Receives one request and hands it on; the client is released on every path.
static void serveClient(Service *svc, KVSocket *client, ParamRecord *param) {
    printf("Clientanfrage empfangen! \n");
    // A client that never sends must not hold up the only thread. With
    // deferred accept, one that arrives with nothing to read has already
    // been silent for the whole limit: it gets a single look.
    int limit = CLIENT_RECV_TIME_LIMIT;
    if (svc->acceptDeferred && !sockWaitReadable(client->socket, 0)) limit = 0;
    sockSetTimeLimit(client, limit);
    int count = sockRecv(client, svc->buffer, REQUEST_BUFFER_SIZE, REQUEST_STOP_COUNT);
    if (count <= 0) {
        printf("Zeitueberschreitung der Anforderung (Error: %d)\n", sockLastError(client));
        sockFree(client);
        fflush(stdout);
        return;
    }
    printClientMessage(svc->buffer, count);
    handleRequest(client, svc->buffer, count, param);
    fflush(stdout);  // the request's console lines in one write
}

// One pass. 1 go on, 0 leave the loop; *failed tells a failed wait from a stop.
static int runPass(Service *svc, int *failed) {
    if (stopSignalled()) return 0;
    if (!pollControlPipe(CONTROL_PIPE_NAME)) return 0;
    saveUnsavedTasks();
    ParamRecord param;
    memset(&param, 0, sizeof param);
    KVSocket *client = nullptr;
    ClientWait wait = waitForClient(svc, &client);
    if (wait == WAIT_NONE) return 1;
    if (wait == WAIT_LEAVE) {
        *failed = !platStopRequested();
        return 0;
    }
    serveClient(svc, client, &param);
    return 1;
}

// ---- shutdown ---------------------------------------------------------------

static void shutDown(Service *svc) {
    notifyStopping();
    // The stop event is never set: closing it is how the workers' view of it ends.
    platCloseHandle(svc->stopEvent);
    platSleepMs(SHUTDOWN_PAUSE_MS);
    checkAllTasks();
    stopAllTasks();
    saveUnsavedTasks();
    writeLog(
        "** Programm KVSTGBSTR wurde beendet **\n"
        "****************************************\n");
    // Listener, control pipe and database connection go with the process.
}

int runService() {
    static Service svc;  // the 512-byte buffer stays off the stack
    memset(&svc, 0, sizeof svc);
    if (!startUp(&svc)) return SERVICE_EXIT_STARTUP;
    int failed = 0;
    while (runPass(&svc, &failed)) {
    }
    shutDown(&svc);
    return failed ? SERVICE_EXIT_FAILED_WAIT : SERVICE_EXIT_STOPPED;
}
