// A small test runner: the Windows build cannot link the host's GoogleTest.
// Cases register themselves; a failed check is reported and the case goes on.
#pragma once

#include <cstdint>

struct WinTestCase {
    const char *name;
    void (*run)();
    WinTestCase *next;
};

int winTestRegister(WinTestCase *test);
void winTestFail(const char *file, int line, const char *text);
void winTestFailEq(const char *file, int line, const char *a, const char *b, long long va,
                   long long vb);

// The helper-process roles ("plat_win32_test child ROLE ..."); process_test.cpp.
int winChildMain(int argc, char **argv);

// The directory of this program, with a trailing backslash ("" when unknown).
const char *winTestProgramDir();
// A name unique to this run: prefix plus the process id and a counter.
void winTestUniqueName(const char *prefix, char *out, unsigned size);

#define WIN_TEST(name)                                                \
    static void name();                                               \
    static WinTestCase name##Case = {#name, name, nullptr};           \
    static const int name##Registered = winTestRegister(&name##Case); \
    static void name()

#define CHECK(cond)                                          \
    do {                                                     \
        if (!(cond)) winTestFail(__FILE__, __LINE__, #cond); \
    } while (0)

#define CHECK_EQ(a, b)                                                              \
    do {                                                                            \
        long long va_ = static_cast<long long>(a), vb_ = static_cast<long long>(b); \
        if (va_ != vb_) winTestFailEq(__FILE__, __LINE__, #a, #b, va_, vb_);        \
    } while (0)
