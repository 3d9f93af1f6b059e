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

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(ExtractLinksTest, DeepAndSloppyPagesAreRead) {
    // Far more tags than a page of end-tag trouble may have: nesting alone costs nothing, and
    // the tree is torn down without recursing.
    EXPECT_THAT(ExtractLinks(Repeat("<b>", 200000) + "<a href=\"/deep\">Deep"),
                ElementsAre(L("Deep", "/deep")));
    // Thousands of stray end tags in a shallow page, and elements left open row after row.
    std::string sloppy = "<table>" +
                         Repeat("<tr><td><font size=2>x</td></font></span><br><p>y</tr>\n", 20000) +
                         "</table><a href=\"/end\">End</a>";
    EXPECT_THAT(ExtractLinks(sloppy), ElementsAre(L("End", "/end")));
}

TEST(ExtractLinksTest, EndTagsThatWouldTakeTooLongAreRefusedWithTheCause) {
    // Open elements followed by end tags that close none of them: each one is compared with
    // every open element. 10,000 x 200 comparisons is the most accepted.
    std::string open = Repeat("<b>", 10000);
    EXPECT_THAT(ExtractLinks(open + Repeat("</i>", 199) + "<a href=\"/x\">X</a>"),
                ElementsAre(L("X", "/x")));
    EXPECT_NO_THROW(ExtractLinks(open + Repeat("</i>", 200)));
    try {
        ExtractLinks(open + Repeat("</i>", 201) + "<a href=\"/x\">X</a>");
        ADD_FAILURE() << "no PageError";
    } catch (const PageError& error) {
        EXPECT_THAT(error.what(), HasSubstr("The shop's catalogue page could not be read"));
        EXPECT_THAT(error.what(), HasSubstr("201 end tags that close nothing"));
        EXPECT_THAT(error.what(), HasSubstr("up to 10,000 elements left open"));
    }
    // Names match without regard to case, so these close what is open and cost nothing more.
    EXPECT_NO_THROW(ExtractLinks(open + Repeat("</B>", 20000)));

    // One end tag that closes a deep nest at once: every level's content is moved out again at
    // each level above it, about depth^2 / 2 moves.
    EXPECT_NO_THROW(ExtractLinks("<div>" + Repeat("<b>", 1900) + "</div>"));
    EXPECT_THROW(ExtractLinks("<div>" + Repeat("<b>", 2100) + "</div>"), PageError);
    EXPECT_THROW(ExtractLinks(Repeat("<div>" + Repeat("<b>", 1000) + "</div>", 6)), PageError);
}

TEST(ExtractLinksTest, PagesOfMoreNodesThanACatalogueHoldsAreRefused) {
    // Elements, texts and comments count; end tags that close something do not.
    EXPECT_THAT(ExtractLinks(Repeat("<i>x</i>", kMaxNodes / 2 - 1) + "<a href=\"/x\">X</a>"),
                ElementsAre(L("X", "/x")));
    try {
        ExtractLinks(Repeat("<b>", kMaxNodes + 1));
        ADD_FAILURE() << "no PageError";
    } catch (const PageError& error) {
        EXPECT_THAT(error.what(), HasSubstr("it holds more than 600,000 elements and texts"));
    }
    EXPECT_THROW(ExtractLinks(Repeat("<!-- -->", kMaxNodes + 1)), PageError);
}

TEST(ExtractLinksTest, PagesLargerThanTheCapAreRefused) {
    std::string big(kMaxPageBytes + 1, 'x');
    try {
        ExtractLinks(big);
        ADD_FAILURE() << "no PageError";
    } catch (const PageError& error) {
        EXPECT_THAT(error.what(), HasSubstr("it is 8,388,609 bytes long (at most 8,388,608"));
    }
    big.pop_back();
    EXPECT_THAT(ExtractLinks(big), IsEmpty());
}

}  // namespace
}  // namespace devod
