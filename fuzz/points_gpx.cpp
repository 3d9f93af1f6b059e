// A GPX points file as `qvctl points set` and DevodTool's backups read it: whatever the bytes, the
// parser ends with points or a fault (with a line), and points it accepts come back the same when
// written out and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/userpoints/points_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const qvpoints::PointsParseResult r = qvpoints::ParseGpx(text);
    if (!r.ok()) {
        if (r.error_line < 1 || !r.points.empty()) std::abort();
        return 0;
    }
    const qvpoints::PointsParseResult again = qvpoints::ParseGpx(qvpoints::WriteGpx(r.points));
    if (!again.ok() || again.points.size() != r.points.size()) std::abort();
    for (size_t i = 0; i < r.points.size(); ++i) {
        if (std::memcmp(&again.points[i], &r.points[i], sizeof r.points[i]) != 0) std::abort();
    }
    return 0;
}
