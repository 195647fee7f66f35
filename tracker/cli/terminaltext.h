#pragma once

#include <string>

// Text from a device, a report or a peer made safe for a terminal: every
// byte that could drive the terminal prints as \xNN (two upper-case hex
// digits). Those are the C0 controls (line ends and tabs included), DEL,
// the C1 controls in UTF-8 (U+0080 to U+009F) and every byte that is not
// part of valid UTF-8 (a lone 0x9B is a control sequence to a Latin-1
// terminal). Printable ASCII and other valid UTF-8 are kept as they are.
std::string terminalText(const std::string &text);
