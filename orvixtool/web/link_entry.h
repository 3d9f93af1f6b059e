// One link found on the shop's catalogue page: the text that stands for it and its target.
#pragma once

#include <string>
#include <vector>

namespace devod {

struct LinkEntry {
    std::string text;
    std::string href;  // empty when the element has no href attribute
    friend bool operator==(const LinkEntry&, const LinkEntry&) = default;
};

using LinkList = std::vector<LinkEntry>;

}  // namespace devod
