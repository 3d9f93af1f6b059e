// The COM port numbers this machine offers, in the numbering CSerialPort::Open accepts.
#pragma once

#include <string>
#include <vector>

namespace qv {

// With QVLIB_PORT_DIR set: the numbers of its "comN" entries (1 to 256), ascending. Otherwise the
// fixed numbering over the /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM* nodes that exist, ascending,
// leaving out a /dev/ttyS* node with no UART behind it (Linux creates many such placeholders;
// probing each would cost a full time-out for nothing).
std::vector<int> EnumerateComPorts();

// The enumeration over device nodes, with the folders it looks in named: `dev_dir` for the
// nodes ("/dev") and `sys_tty_dir` for what the kernel knows of them ("/sys/class/tty").
std::vector<int> ListDeviceNodes(const std::string& dev_dir, const std::string& sys_tty_dir);

// The "comN" entries of one folder, ascending.
std::vector<int> ListPortDir(const std::string& dir);

}  // namespace qv
