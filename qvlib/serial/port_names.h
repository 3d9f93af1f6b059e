// Where COM port N lives on this system.
//
// With QVLIB_PORT_DIR set, port N is "$QVLIB_PORT_DIR/comN" (a folder of links such as a Wine
// prefix's dosdevices folder, or the simulator's port folder). Otherwise a fixed numbering keeps a
// port's number independent of which other devices are plugged in:
//   COM1-COM32 → /dev/ttyS0-31, COM33-COM64 → /dev/ttyUSB0-31, COM65-COM96 → /dev/ttyACM0-31.
// Other numbers name no device.
#pragma once

#include <string>

namespace serial {

constexpr int kHighestComPort = 256;

// The Windows device name of the port, "\\.\COM<n>" (at most 31 characters).
std::string ComDeviceName(int port);
// The device path for a Windows COM device name; empty when the name maps to no device here.
std::string DevicePathForName(const std::string& device_name);
// The name of port N's node in /dev under the fixed numbering ("ttyS0", "ttyUSB3", ...); empty
// for a number that names no device.
std::string ComNodeName(int port);
// Shortcut for DevicePathForName(ComDeviceName(port)).
std::string ComPortPath(int port);

}  // namespace serial
