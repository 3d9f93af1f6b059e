#include "common/ports/port_list.h"

#include <algorithm>
#include <charconv>

namespace qvports {
namespace {

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < 1 || value > kMaxPort) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::vector<int>> ParsePortList(std::string_view text, std::string* error) {
    std::vector<int> ports;
    const auto refuse = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return std::nullopt;
    };
    if (text.empty()) return refuse("an empty port list");
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view item = text.substr(at, comma - at);
        const size_t dash = item.find('-');
        const auto first = Number(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : Number(item.substr(dash + 1));
        if (!first || !last) {
            return refuse("'" + std::string(item) +
                          "' is not a port or a range of ports from 1 to " +
                          std::to_string(kMaxPort));
        }
        if (*first > *last) return refuse("the range '" + std::string(item) + "' is reversed");
        for (int port = *first; port <= *last; ++port) ports.push_back(port);
        at = comma + 1;
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

std::string FormatPortList(const std::vector<int>& ports) {
    std::vector<int> sorted = ports;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::string text;
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1) ++j;
        if (!text.empty()) text += ',';
        text += std::to_string(sorted[i]);
        if (j > i) text += '-' + std::to_string(sorted[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace qvports
