#include "timediffexport.h"

#include <cstring>
#include <string>

extern "C" int32_t GetTimeDiffEx(const SYSTEMTIME *start, int32_t mode, char *text, size_t size)
{
    if (!start || !text)
        return -1;
    try {
        const std::string elapsed = GetTimeDiffEx(start, mode);
        if (size > 0) {
            const size_t n = elapsed.size() < size - 1 ? elapsed.size() : size - 1;
            std::memcpy(text, elapsed.data(), n);
            text[n] = '\0';
        }
        return static_cast<int32_t>(elapsed.size());
    } catch (...) {
        if (size > 0)
            text[0] = '\0';
        return -1;
    }
}
