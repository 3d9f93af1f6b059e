// Finds the links on a page of the shop: every element whose name starts with 'a' or 'A', paired
// with the raw text of the node that follows it in the document.
#pragma once

#include <cstddef>
#include <string>

#include "orvixtool/shell/command_error.h"
#include "orvixtool/web/link_entry.h"

namespace devod {

// A page the parser is not trusted with (see kMaxPageBytes, kMaxEndTagSteps). The text tells the
// owner plainly why the catalogue could not be read.
class PageError : public CommandError {
public:
    using CommandError::CommandError;
};

// Limits on what is handed to the HTML parser.
//
// The parser keeps every element that is not closed open, so its cost lies in the end tags: an
// end tag is compared with the open elements from the innermost outwards until one has its name.
// One that closes nothing is compared with all of them, and one that closes an element far out
// first moves out everything the elements in between hold, level by level. Both grow with the
// square of the page on hostile shapes (thousands of open tags followed by end tags that match
// none of them, or that close them all at once), while real catalogue pages, however long, cost
// a few steps per end tag. So the bound is on those steps, counted as the parser goes, and not on
// the size of the page: a page whose end tags would take more than kMaxEndTagSteps comparisons
// and moves is refused before the parser spends them. The worst page accepted parses in well
// under a second (a step on a deep tree costs more than one on a shallow one, as the nodes lie
// farther apart in memory); a realistic 5 MB catalogue page uses about a tenth of the budget.
//
// And every element, text and comment becomes a node of the parser's tree, a few hundred bytes
// each, so a page of nothing but short tags ("<b><b><b>...") would cost the parser some 80 times
// its size in memory and seconds to build. A page is refused once it passes kMaxNodes nodes: a
// realistic 5 MB catalogue page holds about 250,000, one at the size cap about 400,000.
inline constexpr size_t kMaxPageBytes = 8 * 1024 * 1024;
inline constexpr size_t kMaxEndTagSteps = 2'000'000;
inline constexpr size_t kMaxNodes = 600'000;

// Walks the page in document order. A node whose name's first character is 'a' or 'A' (anchors,
// but also abbr, address, area, and text nodes starting with that letter) gives one entry:
// href = its "href" attribute or empty, text = the raw text of the next node in document order
// (an opening tag's text is the whole tag). The walk goes on after that next node. A match that
// is the very last node of the page has no text and gives no entry.
// Throws PageError for a page beyond the limits above.
LinkList ExtractLinks(const std::string& html);

}  // namespace devod
