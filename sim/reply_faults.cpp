#include "sim/reply_faults.h"

#include <algorithm>
#include <array>

namespace z31sim {

std::string InsertNuls(std::string_view reply) {
    static constexpr std::array<std::string_view, 3> kMarkers = {"OK!", "$", "QV>>"};
    std::string out(1, '\0');
    for (std::size_t i = 0; i < reply.size(); ++i) {
        const std::string_view rest = reply.substr(i);
        if (std::any_of(kMarkers.begin(), kMarkers.end(),
                        [&](std::string_view m) { return rest.starts_with(m); })) {
            out.push_back('\0');
        }
        out.push_back(reply[i]);
    }
    return out;
}

std::vector<std::string> SplitReply(std::string_view reply, int pieces) {
    std::vector<std::string> out;
    if (reply.empty()) return out;
    const std::size_t count = std::min<std::size_t>(std::max(pieces, 1), reply.size());
    std::size_t begin = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t end = reply.size() * (k + 1) / count;
        out.emplace_back(reply.substr(begin, end - begin));
        begin = end;
    }
    return out;
}

}  // namespace z31sim
