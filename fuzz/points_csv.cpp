// A CSV points file: ends with points or a fault, and accepted points survive a write and a read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/userpoints/points_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const qvpoints::PointsParseResult r = qvpoints::ParseCsv(text);
    if (!r.ok()) {
        if (r.error_line < 1 || !r.points.empty()) std::abort();
        return 0;
    }
    const qvpoints::PointsParseResult again = qvpoints::ParseCsv(qvpoints::WriteCsv(r.points));
    if (!again.ok() || again.points.size() != r.points.size()) std::abort();
    for (size_t i = 0; i < r.points.size(); ++i) {
        if (std::memcmp(&again.points[i], &r.points[i], sizeof r.points[i]) != 0) std::abort();
    }
    return 0;
}
