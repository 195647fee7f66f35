#include "cnumber.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <vector>

namespace {

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

} // namespace

std::string formatC(const char *format, ...)
{
    const locale_t previous = uselocale(cLocale());
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string result;
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof small) {
        result.assign(small, static_cast<size_t>(needed));
    } else if (needed > 0) {
        std::vector<char> big(static_cast<size_t>(needed) + 1);
        std::vsnprintf(big.data(), big.size(), format, copy);
        result.assign(big.data(), static_cast<size_t>(needed));
    }
    va_end(copy);
    uselocale(previous);
    return result;
}

double strtodC(const char *text, char **end)
{
    return strtod_l(text, end, cLocale());
}

double atofC(const std::string &text)
{
    return strtodC(text.c_str(), nullptr);
}

int atoiC(const std::string &text)
{
    const long long value = strtoll_l(text.c_str(), nullptr, 10, cLocale());
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}
