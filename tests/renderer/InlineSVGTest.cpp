// Inline SVGs taken out of a page's markup as the HTML parser reads where each starts and ends.

#include "renderer/engine/InlineSVG.h"

#include <gtest/gtest.h>
#include <string>

using namespace vesk::platform;

TEST(InlineSVGTest, AnSVGIsTakenOutWholeWhereTheParserEndsIt)
{
    struct Case {
        const char* name;
        std::string page;
        std::string left;
    };
    const Case cases[] = {
        { "a page without one stays as it is", "<p>a <b>b</b></p><img src=x.svg>", "<p>a <b>b</b></p><img src=x.svg>" },
        { "its content goes, its attributes stay", "<p>a<svg width=10 class='i'><text x=1>Hi</text></svg>b</p>",
            "<p>a<svg vesk-svg=\"0\" width=10 class='i'></svg>b</p>" },
        { "written in capitals", "<SVG viewBox='0 0 1 1'><Rect/></SVG>x", "<svg vesk-svg=\"0\" viewBox='0 0 1 1'></svg>x" },
        { "with the SVGs inside it", "<svg><svg><rect/></svg><text>x</text></svg>after", "<svg vesk-svg=\"0\"></svg>after" },
        { "one that ends in />", "<svg width='4'/>x<svg/>", "<svg vesk-svg=\"0\" width='4'/>x<svg vesk-svg=\"1\"/>" },
        { "a slash in a value does not end it", "<svg x=a/><rect/></svg>y", "<svg vesk-svg=\"0\" x=a/></svg>y" },
        { "not in a comment", "<!-- <svg></svg> --><p>x", "<!-- <svg></svg> --><p>x" },
        { "not in a script or a text area", "<script>'<svg>'</script><textarea><svg></svg></textarea>", "<script>'<svg>'</script><textarea><svg></svg></textarea>" },
        { "not in an attribute", "<a title=\"<svg>\">x</a>", "<a title=\"<svg>\">x</a>" },
        { "an HTML element ends it", "<svg><rect/><p>text</p>", "<svg vesk-svg=\"0\"></svg><p>text</p>" },
        { "so does an end tag around it", "<div><svg><g><rect></div>x", "<div><svg vesk-svg=\"0\"></svg></div>x" },
        { "but not inside its foreign object", "<svg><foreignObject><p>x</p><br></foreignObject></svg>y", "<svg vesk-svg=\"0\"></svg>y" },
        { "nor a tag in a comment of it", "<svg><!-- <p> --><g></g></svg>y", "<svg vesk-svg=\"0\"></svg>y" },
        { "nor a '<' of its text", "<svg><text>a < b</text></svg>y", "<svg vesk-svg=\"0\"></svg>y" },
        { "the page's end ends it", "<p><svg><rect>", "<p><svg vesk-svg=\"0\"></svg>" },
        { "a page's own attribute comes after", "<svg vesk-svg=\"5\"></svg>", "<svg vesk-svg=\"0\" vesk-svg=\"5\"></svg>" },
    };
    for (auto& test : cases) {
        InlineSVGs svgs(nullptr);
        EXPECT_EQ(svgs.takenOut(test.page), test.left) << test.name;
    }
}

TEST(InlineSVGTest, SVGsPastTheBoundsAreLeftOut)
{
    std::string page;
    for (std::size_t i = 0; i <= maximumInlineSVGs; ++i)
        page += "<svg><circle r=1/></svg>";
    InlineSVGs many(nullptr);
    auto left = many.takenOut(page);
    EXPECT_NE(left.find("vesk-svg=\"" + std::to_string(maximumInlineSVGs - 1) + "\""), std::string::npos);
    EXPECT_EQ(left.find("vesk-svg=\"" + std::to_string(maximumInlineSVGs) + "\""), std::string::npos);
    EXPECT_TRUE(left.ends_with("\"></svg><svg></svg>")) << "the last one empty, as drawn";

    InlineSVGs large(nullptr);
    auto path = "<path d='" + std::string(maximumInlineSVGBytes, '1') + "'/>";
    EXPECT_EQ(large.takenOut("<svg>" + path + "</svg><svg></svg>"), "<svg></svg><svg vesk-svg=\"0\"></svg>");
}
