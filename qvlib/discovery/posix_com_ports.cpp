// Port enumeration on Linux: a folder listing, or the device nodes and their UART type.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "qvlib/discovery/com_ports.h"
#include "qvlib/serial/port_names.h"

namespace qv {
namespace {

// A ttyS node is a real port only when the kernel knows a device behind it and a UART type.
bool HasUart(const std::string& path, const std::string& sys_entry) {
    struct stat info {};
    if (stat((sys_entry + "/device").c_str(), &info) != 0) return false;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;  // the probe could not open it either
    struct serial_struct serial {};
    bool known = ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type != PORT_UNKNOWN;
    close(fd);
    return known;
}

}  // namespace

std::vector<int> ListPortDir(const std::string& dir) {
    std::vector<int> ports;
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return ports;
    while (dirent* entry = readdir(folder)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, "com", 3) != 0 || name[3] < '1' || name[3] > '9') continue;
        char* end = nullptr;
        long port = std::strtol(name + 3, &end, 10);
        if (*end == '\0' && port >= 1 && port <= serial::kHighestComPort) {
            ports.push_back(static_cast<int>(port));
        }
    }
    closedir(folder);
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::vector<int> ListDeviceNodes(const std::string& dev_dir, const std::string& sys_tty_dir) {
    std::vector<int> ports;
    for (int port = 1; port <= serial::kHighestComPort; ++port) {
        const std::string node = serial::ComNodeName(port);
        if (node.empty()) continue;
        const std::string path = dev_dir + "/" + node;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
        if (node.rfind("ttyS", 0) == 0 && !HasUart(path, sys_tty_dir + "/" + node)) continue;
        ports.push_back(port);
    }
    return ports;
}

std::vector<int> EnumerateComPorts() {
    if (const char* dir = std::getenv("QVLIB_PORT_DIR"); dir != nullptr && *dir != '\0') {
        return ListPortDir(dir);
    }
    return ListDeviceNodes("/dev", "/sys/class/tty");
}

}  // namespace qv
