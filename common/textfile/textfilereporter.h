#pragma once

#include <string>

// Where a text file shows its open failures. The update library's windows
// provide one that shows a message box; without one the texts go to
// standard error. A reporter may be called from any thread that uses a
// CTextFile; an implementation that shows windows must take the text over
// to its user-interface thread itself.
class ITextFileReporter
{
public:
    enum class Icon
    {
        Information,
        Warning,
        Stop
    };

    virtual ~ITextFileReporter();
    virtual void message(const std::string &text, Icon icon) = 0;
};
