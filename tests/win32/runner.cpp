#include "tests/win32/runner.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "platform/process.h"

static WinTestCase *firstCase = nullptr;
static WinTestCase **lastLink = &firstCase;
static int caseFailures = 0;
static char programDir[512];

int winTestRegister(WinTestCase *test) {
    *lastLink = test;
    lastLink = &test->next;
    return 1;
}

void winTestFail(const char *file, int line, const char *text) {
    printf("  %s:%d: failed: %s\n", file, line, text);
    caseFailures++;
}

void winTestFailEq(const char *file, int line, const char *a, const char *b, long long va,
                   long long vb) {
    printf("  %s:%d: failed: %s == %s (%lld vs %lld)\n", file, line, a, b, va, vb);
    caseFailures++;
}

const char *winTestProgramDir() {
    return programDir;
}

void winTestUniqueName(const char *prefix, char *out, unsigned size) {
    static int counter = 0;
    kvsFormat(out, size, "%s-%u-%d", prefix, platProcessSelf(), ++counter);
}

static void rememberDir(const char *argv0) {
    kvsCopy(programDir, sizeof programDir, argv0 != nullptr ? argv0 : "");
    char *slash = strrchr(programDir, '\\');
    if (slash == nullptr) slash = strrchr(programDir, '/');
    if (slash != nullptr)
        slash[1] = '\0';
    else
        programDir[0] = '\0';
}

// Without arguments every case runs; otherwise only those whose name contains
// one of the arguments. Closes with "N passed, N failed".
int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    rememberDir(argc > 0 ? argv[0] : nullptr);
    if (argc > 1 && strcmp(argv[1], "child") == 0) return winChildMain(argc - 2, argv + 2);
    int passed = 0, failed = 0;
    for (WinTestCase *test = firstCase; test != nullptr; test = test->next) {
        int wanted = argc <= 1;
        for (int i = 1; i < argc; i++) wanted = wanted || strstr(test->name, argv[i]) != nullptr;
        if (!wanted) continue;
        printf("[ RUN  ] %s\n", test->name);
        caseFailures = 0;
        test->run();
        printf("[ %s ] %s\n", caseFailures == 0 ? " OK " : "FAIL", test->name);
        if (caseFailures == 0)
            passed++;
        else
            failed++;
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
