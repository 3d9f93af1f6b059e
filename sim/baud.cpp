#include "sim/baud.h"

#include <array>
#include <utility>

namespace z31sim {
namespace {

constexpr std::array<std::pair<int, speed_t>, 16> kRates = {{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
}};

}  // namespace

std::optional<speed_t> SpeedForBaud(int baud) {
    for (const auto& [rate, code] : kRates) {
        if (rate == baud) return code;
    }
    return std::nullopt;
}

int BaudForSpeed(speed_t speed) {
    for (const auto& [rate, code] : kRates) {
        if (code == speed) return rate;
    }
    return 0;
}

}  // namespace z31sim
