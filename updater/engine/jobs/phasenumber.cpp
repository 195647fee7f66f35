#include "phasenumber.h"

#include "files/folderfiles.h"
#include "revision/relinfo.h"

#include <charconv>
#include <cerrno>
#include <cstdint>
#include <random>

#include <sys/random.h>

namespace {

bool parseNumber(std::string text, double &number)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && number >= 0
        && number < 1;
}

double drawNumber()
{
    std::uint64_t bits = 0;
    std::size_t got = 0;
    auto *bytes = reinterpret_cast<unsigned char *>(&bits);
    while (got < sizeof bits) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bits - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            // No getrandom: the library's device, /dev/urandom here.
            std::random_device device;
            bits = (static_cast<std::uint64_t>(device()) << 32) ^ device();
            break;
        }
    }
    // 53 random bits: every value a multiple of 2^-53 below 1.
    return static_cast<double>(bits >> 11) / 9007199254740992.0;
}

} // namespace

double phaseNumber(const std::string &programFolder, std::string &error)
{
    std::string text;
    double number = 0;
    if (readFileInFolder(programFolder, kPhaseNumberName, text, 64) && parseNumber(text, number))
        return number;
    number = drawNumber();
    char buffer[32];
    const auto [end, failed] = std::to_chars(buffer, buffer + sizeof buffer, number);
    (void)failed;
    replaceFileInFolder(programFolder, kPhaseNumberName, std::string(buffer, end) + "\n", error);
    return number;
}
