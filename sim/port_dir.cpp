#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "sim/z31sim.h"

namespace z31sim {

PortDir::PortDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/z31sim-ports-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        throw std::runtime_error("z31sim: cannot create a port folder from " + pattern + ": " +
                                 std::strerror(errno));
    }
    path_ = buf.data();
}

PortDir::~PortDir() {
    // remove_all deletes links themselves, never what they point at.
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace z31sim
