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

// The "comN" entries of one folder, ascending.
std::vector<int> ListPortDir(const std::string& dir);

}  // namespace qv
