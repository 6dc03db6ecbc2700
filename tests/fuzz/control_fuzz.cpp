// The control pipe's decision on the bytes of one read (at most 10 reach it).
// Only the exact terminated texts "*END" and "*PID" may lead anywhere.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "service/control_pipe.h"

// The text up to the first NUL within the bytes that one read can deliver.
static int textIs(const uint8_t *data, size_t size, const char *word) {
    size_t n = strlen(word);
    if (size > CONTROL_READ_SIZE) size = CONTROL_READ_SIZE;
    if (size < n || memcmp(data, word, n) != 0) return 0;
    return size == n || data[n] == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *bytes = static_cast<char *>(malloc(size > 0 ? size : 1));
    if (size > 0) memcpy(bytes, data, size);
    ControlAction action = decideControlMessage(bytes, size);
    ControlAction expected = textIs(data, size, "*END")   ? CONTROL_STOP
                             : textIs(data, size, "*PID") ? CONTROL_ANSWER_PID
                                                          : CONTROL_IGNORE;
    if (action != expected) abort();
    free(bytes);
    return 0;
}
