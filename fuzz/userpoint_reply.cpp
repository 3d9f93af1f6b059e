// A device's answer to the user point read: every line found in any bytes converts, and the
// records kept pass the host's check and survive their own line format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qvlib/settings/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const std::vector<qv::UserPointRecord> kept = qv::KeptUserPoints(reply.c_str());
    for (size_t i = 0; i < kept.size(); ++i) {
        if (!qv::KeepUserPoint(kept[i])) std::abort();
        const std::string line = qv::FormatUserPointLine(static_cast<uint32_t>(i), kept[i]);
        const auto back = qv::ParseUserPointLine(line.data(), line.data() + line.size() - 2);
        if (!back || back->latitude != kept[i].latitude || back->longitude != kept[i].longitude ||
            back->word0 != kept[i].word0 || back->direction != kept[i].direction) {
            std::abort();
        }
    }
    return 0;
}
