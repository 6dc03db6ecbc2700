// Processes: start from a command line, open by id, read the executable name.
// Windows keeps no zombies and needs no reaping; a process id is looked up
// afresh for every question instead of holding a handle to each child.
#include "platform/process.h"

#include <new>

#include "common/text.h"
#include "platform/win32/internal.h"
// clang-format off: needs the types of <windows.h> above
#include <psapi.h>
// clang-format on
#include "platform/win32/terminate.h"

const size_t COMMAND_LINE_SIZE = 32768;  // the system's limit of a command line

uint32_t platProcessStart(const char *commandLine, uint32_t *pid) {
    if (commandLine == nullptr || commandLine[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    // CreateProcessA may write into the command line: it gets its own copy.
    char *line = new (std::nothrow) char[COMMAND_LINE_SIZE];
    if (line == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD error = 0;
    PROCESS_INFORMATION info = {};
    if (kvsCopy(line, COMMAND_LINE_SIZE, commandLine)) {
        error = ERROR_FILENAME_EXCED_RANGE;
    } else {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        // A group of its own, as on POSIX: a Ctrl-C in the service's console
        // reaches the service alone, which then stops its workers in order.
        if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                            nullptr, nullptr, &startup, &info))
            error = GetLastError();
    }
    delete[] line;
    if (error != 0) {
        SetLastError(error);
        return error;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (pid != nullptr) *pid = info.dwProcessId;
    return 0;
}

// A process that has ended but is still held open by someone counts as gone.
static HANDLE openLive(uint32_t pid, DWORD access) {
    HANDLE process = OpenProcess(access | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return nullptr;
    if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) {
        CloseHandle(process);
        SetLastError(ERROR_INVALID_PARAMETER);  // what opening a vanished id says
        return nullptr;
    }
    return process;
}

PlatHandle platProcessOpen(uint32_t pid) {
    return winPlat(openLive(pid, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ));
}

// The first module is the executable. Just after the start it may not be
// there yet; the callers ask again.
// The thread's last error as a result, never 0.
static int lastErrorResult() {
    DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_INVALID_FUNCTION;
}

int platProcessModuleName(PlatHandle h, char *out, size_t size) {
    if (!platHandleOpen(h) || out == nullptr || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (!EnumProcessModules(winHandle(h), &module, sizeof module, &needed))
        return lastErrorResult();
    if (needed == 0 || module == nullptr) {
        SetLastError(ERROR_PARTIAL_COPY);
        return ERROR_PARTIAL_COPY;
    }
    char name[MAX_PATH];
    DWORD length = GetModuleBaseNameA(winHandle(h), module, name, sizeof name);
    if (length == 0) return lastErrorResult();
    kvsCopyN(out, size, name, length);
    return 0;
}

int platProcessAlive(uint32_t pid) {
    if (pid == 0) return 0;
    WinKeepError keep;
    HANDLE process = openLive(pid, PROCESS_QUERY_LIMITED_INFORMATION);
    if (process == nullptr) return 0;
    CloseHandle(process);
    return 1;
}

uint32_t platProcessSelf() {
    return static_cast<uint32_t>(GetCurrentProcessId());
}

uint32_t winProcessTerminate(uint32_t pid) {
    HANDLE process = openLive(pid, PROCESS_TERMINATE);
    if (process == nullptr) return GetLastError();
    DWORD error = TerminateProcess(process, 1) ? 0 : GetLastError();
    // Ended once this returns: the caller may look for the process at once.
    if (error == 0) WaitForSingleObject(process, 5000);
    CloseHandle(process);
    if (error != 0) SetLastError(error);
    return error;
}
