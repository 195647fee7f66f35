#pragma once

#include "serialconfig.h"

#include <cstdint>
#include <termios.h>

// Translation of the link's line settings into terminal attributes.
namespace LineFormat {

// The terminal speed constant for a rate in bits per second; false when
// the platform has no such speed.
bool speedFor(uint32_t baudRate, speed_t &speed);

// Puts the terminal into raw binary mode with the configured speed, data
// bits, parity and stop bits and no flow control. False (settings
// untouched) when a value cannot be represented.
bool apply(termios &settings, const SerialConfig &config);

} // namespace LineFormat
