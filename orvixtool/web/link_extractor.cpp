#include "orvixtool/web/link_extractor.h"

#include <htmlcxx/html/ParserDom.h>

#include <algorithm>
#include <iterator>

namespace devod {
namespace {

using htmlcxx::HTML::Node;
using Tree = tree<Node>;

// The parser's tree frees its nodes recursively, one stack frame per level, so a page of deeply
// nested unclosed tags would overflow the stack when the tree is destroyed. This parser lifts every
// node up to the root's level first, which leaves nothing to recurse into.
class FlatteningParser : public htmlcxx::HTML::ParserDom {
public:
    ~FlatteningParser() {
        Tree::iterator root = mHtmlTree.begin();
        if (root == mHtmlTree.end()) return;
        for (Tree::iterator it = std::next(root); it != mHtmlTree.end(); ++it) {
            mHtmlTree.flatten(it);
        }
    }
};

void CheckLimits(const std::string& html) {
    if (html.size() > kMaxPageBytes) {
        throw PageError("page of " + std::to_string(html.size()) + " bytes is larger than " +
                        std::to_string(kMaxPageBytes) + " bytes; links not read");
    }
    auto tags = static_cast<size_t>(std::count(html.begin(), html.end(), '<'));
    if (tags > kMaxPageTags) {
        throw PageError("page with " + std::to_string(tags) + " tags has more than " +
                        std::to_string(kMaxPageTags) + "; links not read");
    }
}

bool StartsWithA(const Node& node) {
    const std::string& name = node.tagName();
    return !name.empty() && (name[0] == 'a' || name[0] == 'A');
}

std::string Href(const Node& node) {
    if (!node.isTag()) return {};
    Node copy = node;
    copy.parseAttributes();
    return copy.attribute("href").second;
}

}  // namespace

LinkList ExtractLinks(const std::string& html) {
    CheckLimits(html);
    FlatteningParser parser;
    const Tree& dom = parser.parseTree(html);

    LinkList links;
    for (Tree::pre_order_iterator it = dom.begin(); it != dom.end(); ++it) {
        if (!StartsWithA(*it)) continue;
        Tree::pre_order_iterator next = std::next(it);
        if (next == dom.end()) break;
        links.push_back(LinkEntry{next->text(), Href(*it)});
        it = next;  // the node that gave the text is not examined itself
    }
    return links;
}

}  // namespace devod
