// Finds the links on a page of the shop: every element whose name starts with 'a' or 'A', paired
// with the raw text of the node that follows it in the document.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "orvixtool/web/link_entry.h"

namespace devod {

// A page the parser is not trusted with (see kMaxPageBytes, kMaxPageTags).
class PageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Limits on what is handed to the HTML parser. Its time grows with the square of the number of
// tags on hostile pages (open tags followed by end tags that match none of them): 12,000 tags take
// about half a second at worst.
inline constexpr size_t kMaxPageBytes = 8 * 1024 * 1024;
inline constexpr size_t kMaxPageTags = 12000;  // counted as '<' characters

// Walks the page in document order. A node whose name's first character is 'a' or 'A' (anchors,
// but also abbr, address, area, and text nodes starting with that letter) gives one entry:
// href = its "href" attribute or empty, text = the raw text of the next node in document order
// (an opening tag's text is the whole tag). The walk goes on after that next node. A match that
// is the very last node of the page has no text and gives no entry.
// Throws PageError for a page beyond the limits above.
LinkList ExtractLinks(const std::string& html);

}  // namespace devod
