#pragma once

#include <string>

// What the trace needs to know about the connected device for the CSV
// report's header: the identity texts as the main window shows them and
// the port as the user typed it.
struct TraceOwnerInfo
{
    std::string part;   // text of the "Part :" field
    std::string serial; // text of the "Serial :" field
    std::string port;   // the port field's text, e.g. "3" or "/dev/pts/4"
};
