// The Windows rules for splitting a command line into words.
#include "platform/posix/cmdline.h"

namespace {

struct Splitter {
    char *buffer;
    size_t size;
    size_t used;
    char **words;
    int maxWords;
    int count;
    int inWord;

    bool put(char c) {
        if (used >= size) return false;
        buffer[used++] = c;
        return true;
    }
    bool startWord() {
        if (inWord) return true;
        if (count >= maxWords || used >= size) return false;
        words[count++] = buffer + used;
        inWord = 1;
        return true;
    }
    bool endWord() {
        if (!inWord) return true;
        inWord = 0;
        return put('\0');
    }
};

}  // namespace

// The double quote at *at: it opens or closes a group, except that two of
// them inside a group stand for one literal quote and the group goes on.
static bool quoteMark(Splitter *s, const char **at, int *quoted) {
    if (*quoted && (*at)[1] == '"') {
        *at += 2;
        return s->put('"');
    }
    *quoted = !*quoted;
    (*at)++;
    return true;
}

// Handles the run of backslashes at *at; returns false when out of room.
static bool backslashes(Splitter *s, const char **at, int *quoted) {
    int run = 0;
    while (**at == '\\') {
        run++;
        (*at)++;
    }
    if (**at != '"') {
        for (int i = 0; i < run; i++) {
            if (!s->put('\\')) return false;
        }
        return true;
    }
    for (int i = 0; i < run / 2; i++) {
        if (!s->put('\\')) return false;
    }
    if (run % 2 == 0) return quoteMark(s, at, quoted);
    (*at)++;
    return s->put('"');
}

int posixSplitCommandLine(const char *line, char *buffer, size_t size, char **words, int maxWords) {
    Splitter s = {buffer, size, 0, words, maxWords, 0, 0};
    int quoted = 0;
    const char *at = line != nullptr ? line : "";
    while (*at != '\0') {
        if (!quoted && (*at == ' ' || *at == '\t')) {
            if (!s.endWord()) return -1;
            at++;
            continue;
        }
        if (!s.startWord()) return -1;
        if (*at == '"') {
            if (!quoteMark(&s, &at, &quoted)) return -1;
            continue;
        }
        if (*at == '\\') {
            if (!backslashes(&s, &at, &quoted)) return -1;
            continue;
        }
        if (!s.put(*at++)) return -1;
    }
    return s.endWord() ? s.count : -1;
}
