// Splitting a command line into words by the rules Windows programs use, so
// the job table's command lines mean the same on every platform.
#pragma once

#include <cstddef>

// Splits line into at most maxWords words: blanks and tabs separate words;
// double quotes group (and toggle); 2n backslashes before a quote give n
// backslashes and the quote toggles; 2n+1 give n backslashes and a literal
// quote; other backslashes are literal. The words are written NUL-terminated
// into buffer (strlen(line) + 1 bytes always suffice) and words[] points into
// it. Returns the number of words, or -1 when buffer or words[] is too small.
int posixSplitCommandLine(const char *line, char *buffer, size_t size, char **words, int maxWords);
