#include "orvixtool/web/link_extractor.h"

#include <htmlcxx/html/ParserDom.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <unordered_map>
#include <utility>
#include <vector>

namespace devod {
namespace {

using htmlcxx::HTML::Node;
using Tree = tree<Node>;

// Writes n with thousands separators: 20000 -> "20,000".
std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// The parser with two additions.
//
// It counts the steps the parser is about to spend on each end tag (see kMaxEndTagSteps) on a
// light copy of its stack of open elements, and throws PageError before the parser spends them
// once the page passes the budget. The copy mirrors what the parser does: an end tag is compared
// with the open elements from the innermost out, by name without regard to case; one that closes
// nothing is kept as a comment of the innermost element; one that matches further out closes the
// elements in between by moving each one's children out to its parent, innermost first, so what
// the inner ones held is moved again at every level.
//
// And the parser's tree frees its nodes recursively, one stack frame per level, so a page of
// deeply nested unclosed tags would overflow the stack when the tree is destroyed. This parser
// lifts every node up to the root's level first, which leaves nothing to recurse into.
class CatalogueParser : public htmlcxx::HTML::ParserDom {
public:
    ~CatalogueParser() {
        Tree::iterator root = mHtmlTree.begin();
        if (root == mHtmlTree.end()) return;
        for (Tree::iterator it = std::next(root); it != mHtmlTree.end(); ++it) {
            mHtmlTree.flatten(it);
        }
    }

protected:
    void beginParsing() override {
        open_.assign(1, Open{kNoName, 0});  // the document root, which no end tag matches
        ParserDom::beginParsing();
    }
    void foundTag(Node node, bool is_end) override {
        if (is_end) {
            EndTag(node.tagName());
        } else {
            CountNode();
            ++open_.back().children;
            open_.push_back(Open{NameId(node.tagName()), 0});
            most_open_ = std::max(most_open_, open_.size() - 1);
        }
        ParserDom::foundTag(std::move(node), is_end);
    }
    void foundText(Node node) override {
        CountNode();
        ++open_.back().children;
        ParserDom::foundText(std::move(node));
    }
    void foundComment(Node node) override {
        CountNode();
        ++open_.back().children;
        ParserDom::foundComment(std::move(node));
    }

private:
    static constexpr uint32_t kNoName = UINT32_MAX;

    struct Open {
        uint32_t name;      // index into names_
        uint64_t children;  // nodes directly inside it, as the parser's tree has them now
    };

    uint32_t NameId(const std::string& name) {
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto [it, fresh] =
            names_.try_emplace(std::move(lower), static_cast<uint32_t>(names_.size()));
        return it->second;
    }

    void EndTag(const std::string& name) {
        uint32_t id = NameId(name);
        size_t match = 0;  // 0: closes nothing
        for (size_t i = open_.size() - 1; i > 0; --i) {
            ++steps_;
            if (open_[i].name == id) {
                match = i;
                break;
            }
        }
        if (match == 0) {
            ++unmatched_;
            Check();
            ++open_.back().children;  // kept as a comment
            return;
        }
        uint64_t carried = 0;  // children moved out of the element below, now in this one
        for (size_t i = open_.size() - 1; i > match; --i) {
            carried += open_[i].children;
            steps_ += carried;
        }
        Check();
        open_.resize(match);
    }

    void CountNode() {
        if (++nodes_ <= kMaxNodes) return;
        throw PageError("The shop's catalogue page could not be read: it holds more than " +
                        Grouped(kMaxNodes) + " elements and texts (a catalogue page holds " +
                        "far fewer).");
    }

    void Check() const {
        if (steps_ <= kMaxEndTagSteps) return;
        throw PageError(
            "The shop's catalogue page could not be read: its tags are too badly nested to be "
            "sorted out in reasonable time (" +
            Grouped(unmatched_) + " end tags that close nothing so far, up to " +
            Grouped(most_open_) + " elements left open at once).");
    }

    std::vector<Open> open_;
    std::unordered_map<std::string, uint32_t> names_;
    uint64_t steps_ = 0;
    uint64_t unmatched_ = 0;
    size_t most_open_ = 0;
    size_t nodes_ = 0;
};

void CheckSize(const std::string& html) {
    if (html.size() > kMaxPageBytes) {
        throw PageError("The shop's catalogue page could not be read: it is " +
                        Grouped(html.size()) + " bytes long (at most " + Grouped(kMaxPageBytes) +
                        " are accepted).");
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
    CheckSize(html);
    CatalogueParser parser;
    // The tokenizer is a template of the parser's headers, instantiated here for the page's
    // characters; the library's parseTree does the same for its own copy.
    parser.parse(html.data(), html.data() + html.size());
    const Tree& dom = parser.getTree();

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
