// Command line of z31usbsim.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "sim/usb/z31usb.h"

namespace z31sim::usb {

struct SimOptions {
    std::string socket_path;  // DefaultUsbSocketPath() unless given
    std::optional<SettingsRecordBytes> settings;
    std::optional<UserSpeedBytes> speeds;
    std::size_t demo_points = 0;
    bool help = false;
};

// Parses the arguments after the program name. Returns nullopt and sets `error` for anything
// it does not understand.
std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args, std::string* error);

std::string Usage();

// `count` made-up user points (count <= kMaxUserPoints), the same every time.
std::vector<UserPoint> DemoUserPoints(std::size_t count);

}  // namespace z31sim::usb
