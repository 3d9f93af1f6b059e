#include "orvixtool/web/link_extractor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace devod {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

LinkEntry L(std::string text, std::string href) { return {std::move(text), std::move(href)}; }

TEST(ExtractLinksTest, AnchorGivesItsTextAndHref) {
    EXPECT_THAT(ExtractLinks("<p><a href=\"/kvdb/eu.hdr\">Europe</a></p>"),
                ElementsAre(L("Europe", "/kvdb/eu.hdr")));
    EXPECT_THAT(ExtractLinks("<A HREF='/up'>Up</A><a name=\"top\">Top</a>"),
                ElementsAre(L("Up", "/up"), L("Top", "")));
}

TEST(ExtractLinksTest, TextIsRawAndUntrimmed) {
    EXPECT_THAT(ExtractLinks("<a href=\"/d\">\n  Europe DB \r\n</a>"),
                ElementsAre(L("\n  Europe DB \r\n", "/d")));
    EXPECT_THAT(ExtractLinks("<a href=\"/e?a=1&amp;b=2\">R&amp;D</a>"),
                ElementsAre(L("R&amp;D", "/e?a=1&amp;b=2")));
}

TEST(ExtractLinksTest, AnyNameStartingWithAMatches) {
    EXPECT_THAT(ExtractLinks("<abbr title=\"t\">AB</abbr><address>Addr</address>"
                             "<area href=\"/m\"><p>end</p>"),
                ElementsAre(L("AB", ""), L("Addr", ""), L("<p>", "/m")));
    // Text nodes are named by their text: one starting with a or A matches too and takes the
    // next node, here an opening tag.
    EXPECT_THAT(ExtractLinks("<p>apples</p><b>x</b><i>Apricot</i><u>y</u>"),
                ElementsAre(L("<b>", ""), L("<u>", "")));
    // Comments, the document root and other elements never match.
    EXPECT_THAT(ExtractLinks("<!-- a comment --><b>bold</b><p>text</p>"), IsEmpty());
    EXPECT_THAT(ExtractLinks(""), IsEmpty());
}

TEST(ExtractLinksTest, NextNodeMayBeATagAndIsSkipped) {
    // An anchor around an image: the image's opening tag.
    EXPECT_THAT(ExtractLinks("<a href=\"/i\"><IMG SRC=\"i.png\" alt=\"x\"></a>"),
                ElementsAre(L("<IMG SRC=\"i.png\" alt=\"x\">", "/i")));
    // An empty anchor takes the next anchor's opening tag; that anchor is then not examined.
    EXPECT_THAT(ExtractLinks("<a href=\"/1\"></a><a href=\"/2\">Two</a><a href=\"/3\">3</a>"),
                ElementsAre(L("<a href=\"/2\">", "/1"), L("3", "/3")));
    // The following node can be the next sibling of an ancestor.
    EXPECT_THAT(ExtractLinks("<td><a href=\"/x\"></a></td><td>cell</td>"),
                ElementsAre(L("<td>", "/x")));
}

TEST(ExtractLinksTest, DuplicatesAreKeptInOrderAndALastNodeGivesNothing) {
    EXPECT_THAT(ExtractLinks("<a href=\"/1\">Same</a><a href=\"/2\">Same</a>"),
                ElementsAre(L("Same", "/1"), L("Same", "/2")));
    EXPECT_THAT(ExtractLinks("<p>x</p><a href=\"/last\">"), IsEmpty());
    EXPECT_THAT(ExtractLinks("<p>x</p>and"), IsEmpty());
}

TEST(ExtractLinksTest, DeepAndUnbalancedPagesWithinTheLimitsAreRead) {
    size_t depth = kMaxPageTags - 1;
    std::string nested(depth, '\0');
    nested.clear();
    for (size_t i = 0; i < depth; ++i) nested += "<b>";
    nested += "<a href=\"/deep\">Deep";
    EXPECT_THAT(ExtractLinks(nested), ElementsAre(L("Deep", "/deep")));

    // Open tags followed by end tags that match none of them: the parser's worst case.
    std::string unbalanced;
    size_t half = kMaxPageTags / 2 - 1;
    for (size_t i = 0; i < half; ++i) unbalanced += "<b>";
    for (size_t i = 0; i < half; ++i) unbalanced += "</i>";
    unbalanced += "<a href=\"/end\">End</a>";
    EXPECT_THAT(ExtractLinks(unbalanced), ElementsAre(L("End", "/end")));
}

TEST(ExtractLinksTest, PagesBeyondTheLimitsAreRefused) {
    std::string tags;
    for (size_t i = 0; i <= kMaxPageTags; ++i) tags += "<b>";
    try {
        ExtractLinks(tags);
        FAIL() << "no PageError";
    } catch (const PageError& error) {
        EXPECT_THAT(error.what(), HasSubstr(std::to_string(kMaxPageTags + 1) + " tags"));
    }
    std::string big(kMaxPageBytes + 1, 'x');
    EXPECT_THROW(ExtractLinks(big), PageError);
    big.pop_back();
    EXPECT_THAT(ExtractLinks(big), IsEmpty());
}

}  // namespace
}  // namespace devod
