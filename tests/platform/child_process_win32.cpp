#include <windows.h>

#include <cstdlib>

#include "tests/platform/child_process.h"

static HANDLE asHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// The folder of this test program: the helpers are built beside it.
static std::string programDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, length < sizeof path ? length : 0);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
}

std::string testProgram(const char *name) {
    return programDir() + "\\" + name + ".exe";
}

void setTestIpcDir(const char *) {}

ChildProcess::~ChildProcess() {
    if (process_ != 0) {
        kill(KILL_SIGNAL);
        wait();
    }
    if (out_ != -1) CloseHandle(asHandle(out_));
}

bool ChildProcess::start(const std::vector<std::string> &args) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string line = "\"" + testProgram("kvs_plat_child") + "\"";
    for (const std::string &arg : args) line += " \"" + arg + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &info);
    CloseHandle(writeEnd);
    out_ = reinterpret_cast<intptr_t>(readEnd);
    if (!ok) return false;
    CloseHandle(info.hThread);
    process_ = reinterpret_cast<intptr_t>(info.hProcess);
    pid_ = info.dwProcessId;
    return true;
}

std::string ChildProcess::readLine(int timeoutMs) {
    for (int waited = 0;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(asHandle(out_), nullptr, 0, nullptr, &available, nullptr)) return "";
        if (available == 0) {
            if (waited >= timeoutMs) return "";
            Sleep(10);
            waited += 10;
            continue;
        }
        char buf[256];
        DWORD got = 0;
        if (!ReadFile(asHandle(out_), buf, sizeof buf, &got, nullptr) || got == 0) return "";
        pending_.append(buf, got);
    }
}

void ChildProcess::kill(int signal) {
    if (process_ != 0) TerminateProcess(asHandle(process_), static_cast<UINT>(128 + signal));
}

int ChildProcess::wait() {
    if (process_ == 0) return -1;
    WaitForSingleObject(asHandle(process_), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(asHandle(process_), &code);
    CloseHandle(asHandle(process_));
    process_ = 0;
    pid_ = -1;
    return static_cast<int>(code);
}
