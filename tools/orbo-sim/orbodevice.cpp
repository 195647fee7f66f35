#include "orbodevice.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char *const kLineEnd = "\r\n";

struct HelpEntry
{
    const char *command;
    const char *text;
};

const HelpEntry kHelp[] = {
    {"SSV", "Show software version"},
    {"PAN", "Show part name"},
    {"SNU", "Show serial number"},
    {"SPR", "Show exponent of the full-scale range"},
    {"SFS", "Show mantissa of the full-scale range"},
    {"AUN", "Show active pressure unit"},
    {"PRE", "Read pressure in the active unit"},
    {"PFS", "Read pressure in percent of full scale"},
    {"TMP", "Read sensor temperature in degrees Celsius"},
    {"VLT", "Read supply voltage in volts"},
    {"UPT", "Show seconds since power-up"},
    {"HRS", "Show operating hours"},
    {"STA", "Show device status"},
    {"ERR", "Show last error number"},
    {"FLT", "Show filter setting"},
    {"ADR", "Show bus address"},
    {"HLP", "Show this list of commands"},
};

} // namespace

OrboDevice::OrboDevice(uint32_t seed, bool bootState)
    : m_random(seed)
    , m_bootState(bootState)
{
}

OrboDevice::Answer OrboDevice::answer(const std::string &command, double seconds)
{
    Answer result;
    if (command == "HLP") {
        // A device in boot state keeps quiet about its command list.
        if (m_bootState)
            return result;
        result.echo = command + kLineEnd + kLineEnd;
        result.reply = helpListing();
        return result;
    }
    result.echo = command + kLineEnd + kLineEnd;
    result.reply = reply(command, seconds) + kLineEnd;
    return result;
}

std::string OrboDevice::helpListing()
{
    std::string text;
    for (const HelpEntry &entry : kHelp) {
        text += entry.command;
        text += ": ";
        text += entry.text;
        text += kLineEnd;
    }
    return text;
}

std::string OrboDevice::pressure(double seconds)
{
    // A slow swing over about a decade around 1E-3 with a little noise on top.
    const double pi = 3.14159265358979323846;
    double exponent = -3.0 + 0.5 * std::sin(2.0 * pi * seconds / 120.0)
        + 0.05 * std::sin(2.0 * pi * seconds / 37.0) + 0.002 * m_noise(m_random);
    double value = std::pow(10.0, exponent);
    int power = static_cast<int>(std::floor(std::log10(value)));
    double mantissa = value / std::pow(10.0, power);
    if (mantissa >= 9.9995) { // would print as 10.000
        mantissa /= 10.0;
        ++power;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.3fE%d", mantissa, power);
    return text;
}

std::string OrboDevice::reply(const std::string &command, double seconds)
{
    char text[64];
    if (command == "SSV")
        return "1.02.21";
    if (command == "PAN")
        return "ORBO Sim 100";
    if (command == "SNU")
        return "4711 042";
    if (command == "SPR")
        return "E3";
    if (command == "SFS")
        return "1.0";
    if (command == "AUN")
        return "mbar";
    if (command == "PRE")
        return pressure(seconds);
    if (command == "PFS") {
        double value = std::atof(pressure(seconds).c_str());
        std::snprintf(text, sizeof text, "%.4f", value / 1000.0 * 100.0);
        return text;
    }
    if (command == "TMP") {
        std::snprintf(text, sizeof text, "%.1f",
                      23.5 + 0.3 * std::sin(seconds / 40.0) + 0.05 * m_noise(m_random));
        return text;
    }
    if (command == "VLT") {
        std::snprintf(text, sizeof text, "%.2f", 24.0 + 0.02 * m_noise(m_random));
        return text;
    }
    if (command == "UPT") {
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(seconds));
        return text;
    }
    if (command == "HRS")
        return "1287";
    if (command == "STA")
        return "OK";
    if (command == "ERR")
        return "0";
    if (command == "FLT")
        return "2";
    if (command == "ADR")
        return "1";
    return "Can not execute command";
}
