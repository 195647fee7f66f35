#pragma once

#include "serialconfig.h"

#include <string>

// The words a setting and the command line use for what opening a port
// does with DTR or RTS: "keep" (Unchanged), "on" (Asserted), "off"
// (Released).
const char *lineControlText(LineControl control);
// Any case is accepted; false (control left alone) for another word.
bool parseLineControl(const std::string &text, LineControl &control);

// Raises or drops DTR and RTS of an open terminal as asked
// (TIOCMBIS/TIOCMBIC); a line left Unchanged is not touched. Returns 0
// or why the terminal refused. A pseudo-terminal has no modem lines and
// refuses with ENOTTY or EINVAL, which is harmless there: 0. Another
// terminal that refuses so has no such lines: EOPNOTSUPP.
int applyLineControl(int fd, LineControl dtr, LineControl rts, bool pseudoTerminal);
