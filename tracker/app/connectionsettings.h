#pragma once

#include <string>

// The connection's values in the tool's settings store: the port as typed
// and the baud list's text. A missing value reads as the empty string.
class CConnectionSettings
{
public:
    static constexpr const char *kComport = "Comport";
    static constexpr const char *kBaud = "Baud";

    static std::string read(const char *name);
    // False when the value could not be stored.
    static bool write(const char *name, const std::string &value);
};
