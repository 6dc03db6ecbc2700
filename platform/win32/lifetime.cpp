// Ending together with the parent: a thread waits on the parent process and
// raises the stop request when it ends. The parent is found by id in the
// system's process list; an id that was given anew to a younger process is
// not our parent, which the creation times tell.
#include "platform/lifetime.h"

#include "platform/win32/internal.h"
// clang-format off: needs the types of <windows.h> above
#include <tlhelp32.h>
// clang-format on

// The id of our parent as the system records it, 0 when unknown.
static DWORD parentId() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    DWORD self = GetCurrentProcessId(), parent = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

static ULONGLONG createdAt(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

static DWORD WINAPI watchParent(void *parent) {
    WaitForSingleObject(static_cast<HANDLE>(parent), INFINITE);
    winRaiseStop();
    return 0;
}

int platEndWithParent() {
    DWORD id = parentId();
    if (id == 0) return 0;  // started by nothing we can see: nothing to watch
    HANDLE parent = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (parent == nullptr) return GetLastError() == ERROR_ACCESS_DENIED ? 0 : PLAT_PARENT_GONE;
    ULONGLONG parentBorn = createdAt(parent), selfBorn = createdAt(GetCurrentProcess());
    int gone = WaitForSingleObject(parent, 0) != WAIT_TIMEOUT ||
               (parentBorn != 0 && selfBorn != 0 && parentBorn > selfBorn);
    if (gone) {
        CloseHandle(parent);
        return PLAT_PARENT_GONE;
    }
    HANDLE thread = CreateThread(nullptr, 0, watchParent, parent, 0, nullptr);
    if (thread == nullptr) {
        CloseHandle(parent);
        return 0;  // not armed; nothing else to do
    }
    CloseHandle(thread);  // the thread keeps the parent's handle for the process's life
    return 0;
}
