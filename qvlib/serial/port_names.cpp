#include "qvlib/serial/port_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace serial {

std::string ComDeviceName(int port) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    return name;
}

std::string DevicePathForName(const std::string& device_name) {
    static const char kPrefix[] = "\\\\.\\COM";
    if (device_name.rfind(kPrefix, 0) != 0) return device_name;  // already a path
    const char* digits = device_name.c_str() + std::strlen(kPrefix);
    char* end = nullptr;
    long port = std::strtol(digits, &end, 10);
    if (end == digits || *end != '\0' || port < 1 || port > kHighestComPort) return {};
    if (const char* dir = std::getenv("QVLIB_PORT_DIR"); dir != nullptr && *dir != '\0') {
        return std::string(dir) + "/com" + std::to_string(port);
    }
    const std::string node = ComNodeName(static_cast<int>(port));
    return node.empty() ? std::string() : "/dev/" + node;
}

std::string ComNodeName(int port) {
    static const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
    if (port < 1) return {};
    const int family = (port - 1) / 32;
    if (family >= 3) return {};
    return kFamilies[family] + std::to_string((port - 1) % 32);
}

std::string ComPortPath(int port) { return DevicePathForName(ComDeviceName(port)); }

}  // namespace serial
