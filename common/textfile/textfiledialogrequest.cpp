#include "textfiledialogrequest.h"

std::string TextFileDialogRequest::qtFilter(const std::string &filter)
{
    // The text alternates display names and patterns, separated by '|' and
    // ended by "||"; the dialog only needs the names, which carry the
    // patterns in brackets.
    std::string result;
    std::string::size_type start = 0;
    bool isName = true;
    while (start < filter.size()) {
        std::string::size_type bar = filter.find('|', start);
        std::string piece =
            filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (piece.empty())
            break;
        if (isName) {
            if (!result.empty())
                result += ";;";
            result += piece;
        }
        isName = !isName;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return result;
}
