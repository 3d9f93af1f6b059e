// Conversion between baud rates as numbers and the termios speed codes.
#pragma once

#include <termios.h>

#include <optional>

namespace z31sim {

// The termios code for a standard rate, or nothing if the rate is not one termios knows.
std::optional<speed_t> SpeedForBaud(int baud);

// The rate of a termios speed code, or 0 for B0 and codes outside the standard table.
int BaudForSpeed(speed_t speed);

}  // namespace z31sim
