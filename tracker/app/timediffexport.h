#pragma once

#include "timediff.h"

#include <stddef.h>
#include <stdint.h>

extern "C" {

// The C-linkage GetTimeDiffEx, for callers without C++ (the two-argument
// overload returns a std::string and is exported mangled): writes the elapsed-time text of
// the given mode into text (always NUL-terminated when size > 0) and
// returns the length of the full text, or -1 when start or text is null.
// A result of size or more means the text was shortened.
int32_t GetTimeDiffEx(const SYSTEMTIME *start, int32_t mode, char *text, size_t size);
}
