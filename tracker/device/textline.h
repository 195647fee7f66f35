#pragma once

#include <string>

// Line-text helpers of the device link, its users and the simulator.

// Without leading and trailing white space (" \t\r\n\v\f").
inline std::string trimmed(const std::string &text)
{
    const char *blanks = " \t\r\n\v\f";
    const std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Without the CR and LF characters at its end: a device's reply keeps its
// line end, shown or written elsewhere it goes without it.
inline std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text;
}
