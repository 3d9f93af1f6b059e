// How the fault knobs reshape a reply before it goes out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace z31sim {

// Adds a NUL at the start of the reply and right before each "OK!", "$" and "QV>>".
std::string InsertNuls(std::string_view reply);

// Cuts the reply into `pieces` parts of nearly equal length, in order; fewer when the reply is
// shorter than that. Never returns an empty part; an empty reply gives no part at all.
std::vector<std::string> SplitReply(std::string_view reply, int pieces);

}  // namespace z31sim
