#include "commandcatalogue.h"

#include <cctype>

namespace {

std::string withoutLeadingSpace(const std::string &text)
{
    std::string::size_type first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first])))
        ++first;
    return text.substr(first);
}

} // namespace

std::vector<std::string> parseCommandListing(const std::string &raw)
{
    std::vector<std::string> entries;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type end = raw.find('\n', begin);
        if (end == std::string::npos)
            break; // text after the last LF is incomplete
        const std::string piece = raw.substr(begin, end - begin);
        begin = end + 1;
        // The device echoes the command with its own line end: "HLP" alone
        // or followed by CR is the echo, not a command of the list.
        if (piece == "HLP" || piece == "HLP\r" || piece.size() < 2)
            continue;
        entries.push_back(withoutLeadingSpace(piece));
    }
    return entries;
}

bool splitCommandHelp(const std::string &entry, std::string &command, std::string &help)
{
    const std::string::size_type colon = entry.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    command = entry.substr(0, colon);
    help = withoutLeadingSpace(entry.substr(colon + 1));
    return true;
}
