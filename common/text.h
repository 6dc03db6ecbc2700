// Bounded text helpers: every copy into or format onto a fixed field goes
// through these. They never write past the field, always terminate it, and
// report whether the text had to be cut.
#pragma once

#include <cstdarg>
#include <cstddef>

#define KVS_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))

// Copies src into dst (size bytes, size > 0). Returns 1 when cut, 0 otherwise.
int kvsCopy(char *dst, size_t size, const char *src);

// Copies at most n bytes of src (stopping at a NUL) into dst. Returns 1 when cut.
int kvsCopyN(char *dst, size_t size, const char *src, size_t n);

// snprintf into dst that always terminates. Returns 1 when cut, 0 otherwise.
int kvsFormat(char *dst, size_t size, const char *fmt, ...) KVS_PRINTF(3, 4);
int kvsFormatV(char *dst, size_t size, const char *fmt, va_list args) KVS_PRINTF(3, 0);

// Array forms: the field's size comes from its type.
template <size_t N>
inline int kvsCopy(char (&dst)[N], const char *src) {
    return kvsCopy(dst, N, src);
}

// Compares after upper-casing ASCII letters on both sides; 1 when equal.
int kvsEqualNoCase(const char *a, const char *b);

// Lower- or upper-cases the ASCII letters of text in place.
void kvsToLower(char *text);
void kvsToUpper(char *text);

// Cuts trailing blanks, tabs and line feeds in place.
void kvsTrimRight(char *text);
