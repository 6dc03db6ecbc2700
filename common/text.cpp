#include "common/text.h"

#include <cstdio>
#include <cstring>

int kvsCopyN(char *dst, size_t size, const char *src, size_t n) {
    if (size == 0) return 1;
    size_t len = 0;
    while (len < n && src[len] != '\0') len++;
    int cut = 0;
    if (len > size - 1) {
        len = size - 1;
        cut = 1;
    }
    memmove(dst, src, len);
    dst[len] = '\0';
    return cut;
}

int kvsCopy(char *dst, size_t size, const char *src) {
    return kvsCopyN(dst, size, src, strlen(src));
}

int kvsFormatV(char *dst, size_t size, const char *fmt, va_list args) {
    if (size == 0) return 1;
    int needed = vsnprintf(dst, size, fmt, args);
    if (needed < 0) {
        dst[0] = '\0';
        return 1;
    }
    return static_cast<size_t>(needed) >= size ? 1 : 0;
}

int kvsFormat(char *dst, size_t size, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int cut = kvsFormatV(dst, size, fmt, args);
    va_end(args);
    return cut;
}

static char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
static char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

int kvsEqualNoCase(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        if (asciiUpper(*a) != asciiUpper(*b)) return 0;
    }
    return *a == *b;
}

void kvsToLower(char *text) {
    for (; *text != '\0'; text++) *text = asciiLower(*text);
}

void kvsToUpper(char *text) {
    for (; *text != '\0'; text++) *text = asciiUpper(*text);
}

void kvsTrimRight(char *text) {
    size_t len = strlen(text);
    while (len > 0 && (text[len - 1] == ' ' || text[len - 1] == '\t' || text[len - 1] == '\n')) {
        text[--len] = '\0';
    }
}
