#include "renderer/engine/HTMLNesting.h"

#include <gtest/gtest.h>

#include <gumbo.h>
#include <memory>
#include <vector>

using namespace vesk::platform;

namespace {

std::string repeat(std::string_view part, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

// How deep the parser nests the markup; its tree is never torn down (that recurses).
std::size_t parsedDepth(const std::string& markup)
{
    std::vector<std::unique_ptr<char[]>> blocks;
    GumboOptions options = kGumboDefaultOptions;
    options.userdata = &blocks;
    options.allocator = [](void* blocks, std::size_t size) -> void* {
        return static_cast<std::vector<std::unique_ptr<char[]>>*>(blocks)->emplace_back(new char[size]).get();
    };
    options.deallocator = [](void*, void*) {};
    auto* output = gumbo_parse_with_options(&options, markup.data(), markup.size());
    std::size_t deepest = 0;
    std::vector<std::pair<const GumboNode*, std::size_t>> stack { { output->document, 0 } };
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        auto& children = node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i)
            stack.push_back({ static_cast<const GumboNode*>(children.data[i]), depth + 1 });
    }
    return deepest;
}

}

// Shapes that make a parser nest without end: plain nesting, misnested formatting it opens
// again, tables, foreign content; the bound holds whatever the shape, and the rest is kept.
TEST(HTMLNestingTest, NoShapeNestsDeeperThanTheBound)
{
    std::string numbered;
    for (int i = 0; i < 3000; ++i)
        numbered += "<div><b id=" + std::to_string(i) + "></div>x";
    std::vector<std::string> pages {
        repeat("<q>", 3000),
        repeat("<div>", 3000) + repeat("</div>", 3000),
        repeat("<table><tr><td>", 1000),
        repeat("<div><b id=x></div>x", 3000),
        numbered,
        repeat("<a><div></a>", 3000),
        repeat("<b><div></b>", 3000),
        repeat("<span><div></span>", 3000),
        repeat("<svg><div/>", 3000),
        "<svg><style>" + repeat("<g>", 3000),
        repeat("<p><font face=x>text</p>\n", 3000),
        "<frameset><textarea>" + repeat("<frameset>", 3000),
        repeat("<svg><html>", 3000),
        // A slash that ends an unquoted value ends no element.
        "<svg>" + repeat("<g x=a/>", 3000),
        "<svg>" + repeat("<g/ >", 3000),
    };
    for (auto& page : pages) {
        auto bounded = boundedHTMLNesting(page, 40);
        EXPECT_LE(parsedDepth(bounded), 40u + 3) << page.substr(0, 40);
    }
    // A page within the bound stays as it is; one past it keeps its text and its last link.
    auto plain = "<p><font face=x>a</p>" + repeat("<table><tr><td><font>x</td></tr></table>", 200);
    EXPECT_EQ(boundedHTMLNesting(plain, 40), plain);
    auto deep = boundedHTMLNesting(repeat("<q>", 100) + "text<a href=x>link</a>", 40);
    EXPECT_TRUE(deep.ends_with("<q>text</q><a href=x>link</a>")) << deep;
}

TEST(HTMLNestingTest, ElementsOfSVGEndingInASlashAreWholeAndNestNothing)
{
    // SQLite's syntax diagrams: hundreds of shapes side by side.
    auto diagram = "<div><svg viewBox='0 0 10 10'>" + repeat("<path d='M0,0L1,1' style='stroke:red;' />", 300) + "<text x=1>end</text><svg/></svg></div><p>after</p>";
    EXPECT_TRUE(boundedHTMLNesting(diagram, 40) == diagram) << "the diagram stays as it is";
    // In HTML such a slash means nothing: the elements still nest.
    EXPECT_LE(parsedDepth(boundedHTMLNesting(repeat("<div/>", 3000), 40)), 40u + 3);
}

TEST(HTMLNestingTest, ALongPageIsCutAtTheStartOfATagOutsideCommentsAndRawText)
{
    std::string filler(100, 'x');
    struct Case {
        const char* name;
        std::string html;
        std::size_t cut;
    };
    const Case cases[] = {
        { "at the first tag past the bound", "<p>" + filler + "<b>" + filler + "</b>" + filler, 103 },
        { "or a space before it", "<p>" + filler + " x<b>" + filler + "</b>" + filler, 103 },
        { "an end tag will do", "<p>" + filler + "</p>" + filler + filler, 103 },
        { "not inside a comment", "<p>" + filler + "<!-- <b> " + filler + " -->x<i>" + filler + filler, 3 + 100 + 9 + 100 + 5 },
        { "not inside a script", "<script>" + filler + "<b>" + filler + "</script>" + filler + "<i>" + filler, 8 + 203 + 9 + 100 },
        { "scripts and comments count for nothing", "<style>" + filler + filler + "</style><!--" + filler + "--><p>" + filler + "<i>" + filler + "<b>" + filler + filler,
            7 + 200 + 8 + 4 + 100 + 3 + 3 + 100 },
        { "not inside a tag's attributes", "<p title='" + filler + "<b>'>" + filler + "<i>" + filler, 10 + 103 + 2 + 100 },
        { "a lone '<' is text", "<p>" + filler + "<3<3" + filler + "<i>" + filler + filler, 3 + 100 + 4 + 100 },
        { "a space in text past the bound", "<p>" + filler + "ab cd" + filler + filler, 3 + 100 + 2 },
        { "a page of text alone", filler + filler + " a", 200 },
        { "a page not twice the bound is laid out whole", "<p>" + filler + "<b>" + std::string(90, 'x'), std::string::npos },
        { "no tag past the bound", "<p>" + filler + filler + filler, std::string::npos },
    };
    for (auto& test : cases)
        EXPECT_EQ(htmlFirstPartEnd(test.html, 100), test.cut) << test.name;
}
