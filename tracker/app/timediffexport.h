#pragma once

#include "timediff.h"

#include <stddef.h>
#include <stdint.h>

extern "C" {

// The exported, C-linkage GetTimeDiffEx (the two-argument overload
// returns a std::string and stays inside the program): writes the
// elapsed-time text of the given mode into text (always NUL-terminated
// when size > 0) and returns the length of the full text, or -1 when start
// or text is null. A result of size or more means the text was shortened.
SPELMAR_EXPORT int32_t GetTimeDiffEx(const SYSTEMTIME *start, int32_t mode, char *text,
                                     size_t size);
}
