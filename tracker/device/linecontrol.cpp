#include "linecontrol.h"

#include <cerrno>
#include <strings.h>
#include <sys/ioctl.h>

namespace {

struct Word
{
    LineControl control;
    const char *text;
};

const Word kWords[] = {
    {LineControl::Unchanged, "keep"},
    {LineControl::Asserted, "on"},
    {LineControl::Released, "off"},
};

} // namespace

const char *lineControlText(LineControl control)
{
    for (const Word &word : kWords) {
        if (word.control == control)
            return word.text;
    }
    return kWords[0].text;
}

bool parseLineControl(const std::string &text, LineControl &control)
{
    for (const Word &word : kWords) {
        if (::strcasecmp(text.c_str(), word.text) == 0) {
            control = word.control;
            return true;
        }
    }
    return false;
}

int applyLineControl(int fd, LineControl dtr, LineControl rts, bool pseudoTerminal)
{
    int raise = 0;
    int drop = 0;
    for (const auto &[control, line] :
         {std::pair<LineControl, int>(dtr, TIOCM_DTR), {rts, TIOCM_RTS}}) {
        if (control == LineControl::Asserted)
            raise |= line;
        else if (control == LineControl::Released)
            drop |= line;
    }
    for (const auto &[request, lines] :
         {std::pair<unsigned long, int>(TIOCMBIS, raise), {TIOCMBIC, drop}}) {
        if (lines == 0 || ::ioctl(fd, request, &lines) == 0)
            continue;
        const int error = errno;
        if (error != ENOTTY && error != EINVAL)
            return error;
        if (!pseudoTerminal)
            return EOPNOTSUPP;
    }
    return 0;
}
