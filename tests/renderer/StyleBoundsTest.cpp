#include "renderer/engine/StyleBounds.h"

#include "platform/graphics/UIImage.h"
#include "platform/system/MemoryInfo.h"
#include "platform/uikit/WebTestSupport.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/WebPage.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>

using namespace vesk::platform;

namespace {

using vesk::test::repeat;

// The style sheet as the bounds write it out again: no space between rules.
std::string withoutSpacesBetweenRules(std::string css)
{
    std::string out;
    for (std::size_t at = 0; at < css.size(); ++at) {
        if (css[at] == ' ' && at > 0 && css[at - 1] == '}')
            continue;
        out += css[at];
    }
    return out;
}

}

TEST(StyleBoundsTest, RulesThePageCanUseAreKeptAndTheRestLeftOut)
{
    StyleBounds bounds("<html><body class='main wide'><div id=top><p class=note>x</p><td colspan=3></td></div></body></html>");
    struct Case {
        const char* name;
        std::string css;
        std::string kept;
    };
    const Case cases[] = {
        { "types, classes and ids of the page", "p{color:red} .note{a:b} #top{c:d} body.main.wide > div#top p.note{e:f}",
            "p{color:red}.note{a:b}#top{c:d}body.main.wide > div#top p.note{e:f}" },
        { "a missing class, id or type leaves the selector out", ".gone p{a:b} #none{c:d} span{e:f} p, .gone{g:h}", "p{g:h}" },
        { "what is in brackets or arguments requires nothing", "p:not(.gone){a:b} [class~=gone]{c:d} p:nth-child(2n+1){e:f}",
            "p:not(.gone){a:b}[class~=gone]{c:d}p:nth-child(2n+1){e:f}" },
        { "the parser's own elements", "tbody tr{a:b} html body{c:d}", "tbody tr{a:b}html body{c:d}" },
        { "an <image> is an <img>", "img{a:b} image{c:d}", "img{a:b}" },
        { "escaped names are kept", ".\\67 one{a:b}", ".\\67 one{a:b}" },
        { "pseudo-elements", "p::before{a:b} p:hover{c:d}", "p::before{a:b}p:hover{c:d}" },
        { "eight parts, not nine", "div p p p p p p p{a:b} div p p p p p p p p{c:d}", "div p p p p p p p{a:b}" },
        { "strings, comments and braces in values", "p{content:\"}{\"} /* .gone{x:y} */ p{a:'b;}'}", "p{content:\"}{\"}p{a:'b;}'}" },
        { "at-rules with and without blocks", "@import url(x.css); @charset 'utf-8'; @media screen{p{a:b} .gone{c:d}} @font-face{font-family:x}",
            "@import url(x.css);@charset 'utf-8';@media screen{p{a:b}}@font-face{font-family:x}" },
        { "blocks nest only so deep", "@media a{@media b{@media c{@media d{p{a:b}}}}} @media e{@media f{p{c:d}}}", "@media a{@media b{@media c{}}}@media e{@media f{p{c:d}}}" },
        { "a stray end and an open block", "} p{a:b}} p{c:d", "p{a:b}p{c:d}" },
        { "keyframes are left out", "@keyframes k{from{a:b}to{c:d}} p{e:f}", "p{e:f}" },
        { "a sheet hidden in a comment of markup", "<!--\np{a:b}\n.note{c:d} -->", "p{a:b}.note{c:d}" },
    };
    for (auto& test : cases)
        EXPECT_EQ(StyleBounds("<html><body class='main wide'><div id=top><p class=note>x<image src=x.png></p></div></body></html>").boundedSheet(test.css), test.kept)
            << test.name;

    auto many = bounds.boundedSheet(repeat("p{a:b}", maximumStyleSelectors - 2) + "p, div, #top, .note{c:d} p{e:f}");
    EXPECT_EQ(many, repeat("p{a:b}", maximumStyleSelectors - 2) + "p,div{c:d}") << "no more selectors than the bound";
    EXPECT_EQ(bounds.boundedSheet("p{a:b}"), "") << "the bound holds for the page's later sheets too";
}

TEST(StyleBoundsTest, RulesNestedInRulesBecomeRulesOfTheirOwn)
{
    struct Case {
        const char* name;
        std::string css;
        std::string kept;
    };
    const Case cases[] = {
        { "an inner rule is the outer one's descendant", ":not(.dark) { pre p { padding: 1em; } p { color: red } }", ":not(.dark){}:not(.dark) pre p{ padding: 1em; }:not(.dark) p{ color: red }" },
        { "'&' stands for the outer selector", "p { color: red; &.note { a: b } & > b { c: d } .main & { e: f } }",
            "p{color: red;}p.note{ a: b }p > b{ c: d }.main p{ e: f }" },
        { "each outer selector with each inner one", "p, div { b, .note { a: b } }", "p,div{}p b,p .note,div b,div .note{ a: b }" },
        { "a combinator leads the inner selector", "div { > p { a: b } + p { c: d } }", "div{}div > p{ a: b }div + p{ c: d }" },
        { "declarations after an inner rule stay the outer's", "p { a: b; b { c: d } e: f }", "p{a: b;e: f;}p b{ c: d }" },
        { "@media inside a rule", "p { @media screen { color: red; b { a: b } } }", "p{}@media screen{p{color: red;}p b{ a: b }}" },
        { "inner rules the page can't use are left out", "p { .gone { a: b } span { c: d } b { e: f } }", "p{}p b{ e: f }" },
        { "nesting as deep as blocks may nest", "p { b { b { b { b { a: b } } } } }", "p{}p b{}p b b{}p b b b{}" },
        { "braces in strings are no rules", "p { content: \"{\"; b { a: '}' } }", "p{content: \"{\";}p b{ a: '}' }" },
    };
    for (auto& test : cases)
        EXPECT_EQ(StyleBounds("<html><body class='main'><p class=note><b>x</b></p><pre><p></p></pre><div></div></body></html>").boundedSheet(test.css), test.kept)
            << test.name;
}

TEST(StyleBoundsTest, LogicalPropertiesAreThePhysicalOnesOfLeftToRightText)
{
    struct Case {
        const char* name;
        std::string css;
        std::string kept;
    };
    const Case cases[] = {
        { "edges", "p { margin-block-start: 2.5em; padding-inline-end: 4px; inset-inline-start: 0 }", "p{margin-top:2.5em;padding-right:4px;left:0;}" },
        { "a border's edge and its parts", "p { border-block-start: .1em solid red; border-inline-start-color: blue !important }",
            "p{border-top:.1em solid red;border-left-color:blue !important;}" },
        { "both edges at once", "p { margin-inline: auto; padding-block: 1px calc(2px + 1em); border-block: 1px solid; border-inline-width: 1px 2px }",
            "p{margin-left:auto;margin-right:auto;padding-top:1px;padding-bottom:calc(2px + 1em);border-top:1px solid;border-bottom:1px solid;border-left-width:1px;border-right-width:2px;}" },
        { "sizes", "p { inline-size: 10px; max-block-size: 50% }", "p{width:10px;max-height:50%;}" },
        { "other declarations as they were", "p { display: inline-block; margin-inline: 1px 2px 3px; color: red }", "p{display: inline-block;margin-inline: 1px 2px 3px;color: red;}" },
        { "and rules without them as written", "p { display: block; margin: 0 }", "p{ display: block; margin: 0 }" },
    };
    for (auto& test : cases)
        EXPECT_EQ(StyleBounds("<html><body><p>x</p></body></html>").boundedSheet(test.css), test.kept) << test.name;
}

// A highlighting theme as Node.js's documentation nests it: the inner rules' declarations once
// gave every element of the page the padding of its code blocks.
TEST(StyleBoundsTest, APageWithNestedRulesIsDrawnAsTheSameRulesWrittenFlat)
{
    const std::string body = "<body style='margin:0'><div><div><header><h1 style='margin:0'>Node.js documentation</h1></header>"
                             "<pre><code class='hljs'>const x = 1;</code></pre></div></div></body>";
    auto draw = [&](const std::string& sheet) {
        auto page = WebPage::create(boundedHTMLNesting("<style>" + sheet + "</style>" + body), NSURL::fileURLWithPath("/page.html"), [](const NSURL&) { return std::optional<std::string>(); });
        page->layout(375);
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 375, 300);
        auto* cr = cairo_create(surface);
        page->draw(cr, CGRectMake(0, 0, 375, 300));
        cairo_destroy(cr);
        auto image = std::make_shared<UIImage>(surface, 1);
        cairo_surface_destroy(surface);
        return image;
    };
    auto nested = draw(":not(.dark-mode) { pre code.hljs { display: block; padding: 1em; } .hljs { color: #00f; } }");
    auto flat = draw(":not(.dark-mode) pre code.hljs { display: block; padding: 1em; } :not(.dark-mode) .hljs { color: #00f; }");
    EXPECT_TRUE(nested->hasEqualPixels(*flat));
    auto dark = [](UIPixel p) { return p.red < 90 && p.green < 90 && p.blue < 90; };
    auto blue = [](UIPixel p) { return p.blue > 200 && p.red < 60; };
    EXPECT_GT(vesk::test::countPixels(*nested, CGRectMake(0, 0, 12, 40), dark), 20) << "the heading starts at the left edge";
    EXPECT_GT(vesk::test::countPixels(*nested, CGRectMake(0, 40, 375, 260), blue), 20) << "the inner rules apply";
}

TEST(StyleBoundsTest, OnDeeplyNestedPagesLongDescendantChainsAreLeftOut)
{
    const std::string css = "div div div p{a:b} div div div div p{c:d} div>div>div>div>div>p{e:f} div~div~div~div p{g:h}";
    EXPECT_EQ(StyleBounds(repeat("<div>", 20) + "<p>x").boundedSheet(css), withoutSpacesBetweenRules(css));
    EXPECT_EQ(StyleBounds(repeat("<div>", 120) + "<p>x").boundedSheet(css), "div div div p{a:b}div>div>div>div>div>p{e:f}");
    EXPECT_EQ(StyleBounds(repeat("<div></div>", 120) + "<p>x").boundedSheet(css), withoutSpacesBetweenRules(css)) << "siblings are not nesting";
    EXPECT_EQ(StyleBounds("<div>" + repeat("<p>x<b>y</b>", 120)).boundedSheet(css), withoutSpacesBetweenRules(css)) << "a paragraph ends at the next";
    EXPECT_EQ(StyleBounds(repeat("<ul><li>x", 60)).boundedSheet("ul li ul li ul li{a:b}"), "") << "but nested lists nest";
}

TEST(StyleBoundsTest, CellSpansAreClampedAndStyleElementsBounded)
{
    struct Case {
        const char* markup;
        const char* bounded;
    };
    const Case cases[] = {
        { "<td colspan=2147483647 rowspan=99999999999>", "<td colspan=1000 rowspan=65534>" },
        { "<TH ColSpan='0' rowspan=\" 7x\">", "<TH ColSpan='1' rowspan=\"7\">" },
        { "<td colspan=abc>", "<td colspan=1>" },
        { "<div colspan=5000>", "<div colspan=5000>" },
        { "<p title='<td colspan=5000>'>", "<p title='<td colspan=5000>'>" },
        { "<style>.gone{a:b} p{c:d}</style><p>", "<style>p{c:d}</style><p>" },
        { "<script>x='<style>.gone{}</style>'</script>", "<script>x='<style>.gone{}</style>'</script>" },
        { "<!-- <td colspan=9999> --><td colspan=9999>", "<!-- <td colspan=9999> --><td colspan=1000>" },
    };
    for (auto& test : cases)
        EXPECT_EQ(StyleBounds(test.markup).boundedMarkup(test.markup), test.bounded) << test.markup;
}

// Pages that once took minutes or gigabytes: each lays out and draws, still showing what it
// would show, its memory bounded.
TEST(StyleBoundsTest, HostilePagesShowWithTheirMemoryBounded)
{
    std::map<std::string, std::string> sheets {
        { "a.css", "@import url(b.css); p { color: #ff0000 }" },
        { "b.css", "@import url(a.css); p { font-size: 20px }" },
    };
    auto loader = [&](const NSURL& url) -> std::optional<std::string> {
        auto name = url.lastPathComponent();
        if (auto found = sheets.find(name); found != sheets.end())
            return found->second;
        // s0.css imports s1.css, and so on without end.
        if (name.starts_with("s"))
            return "@import url(s" + std::to_string(std::stoi(name.substr(1)) + 1) + ".css); p { color: #ff0000 }";
        return std::nullopt;
    };
    std::string nthRules, classRules, families;
    for (int n = 1; n <= 2000; ++n)
        nthRules += "li:nth-child(" + std::to_string(n) + "n+1) { color: #ff0000 }\n";
    for (int n = 0; n < 20000; ++n)
        classRules += ".c" + std::to_string(n) + " div span a { color: #ff0000 }\n";
    for (int n = 0; n < 200000; ++n)
        families += "f" + std::to_string(n) + ", ";
    struct Case {
        const char* name;
        std::string page;
    };
    const Case cases[] = {
        { "style sheets that import each other", "<link rel=stylesheet href=a.css><p>shown</p>" },
        { "imports without end", "<link rel=stylesheet href=s0.css><p>shown</p>" },
        { "huge colspan and rowspan", "<table><tr><td colspan=2147483647 rowspan=2147483647><p>shown</p></td></tr></table>" },
        { "a selector of 20,000 parts", "<style>" + repeat("div ", 20000) + "p { color: #ff0000 }</style><div><p>shown</p></div>" },
        { "100,000 nested @media", "<style>" + repeat("@media screen {", 100000) + "p { color: #ff0000 }" + repeat("}", 100000) + "</style><p>shown</p>" },
        { "2,000 :nth-child rules", "<style>" + nthRules + "</style><ul>" + repeat("<li><p>shown</p></li>", 1000) + "</ul>" },
        { "20,000 rules of .cN div span a", "<style>" + classRules + "</style>" + repeat("<div class=c1><div><span><a><p>shown</p></a></span></div></div>", 300) },
        { "7 descendant combinators against 120 nested divs", "<style>span div div div div div div b { color: #ff0000 }</style><span></span>" + repeat("<div>", 120) + repeat("<b>shown</b>", 10) },
        { "div x31 then b against 30 nested divs", "<style>" + repeat("div ", 31) + "b { color: #ff0000 }</style>" + repeat("<div>", 30) + "<b><p>shown</p></b>" },
        { "a font-family of 200,000 names", "<p style='font-family: " + families + "serif'>shown</p>" },
        { "custom properties that refer to themselves",
            "<style>p { --a: var(--a) x; color: var(--a) } div { --b: var(--c); --c: var(--b); background: var(--b) } p::before { --d: var(--d); content: 'x';"
            " color: var(--d) } img { --w: var(--w); width: var(--w) }</style><p>shown</p><div><p>shown</p></div><img src=x.png>" },
        { "a custom property in a style attribute that refers to itself", "<p style='--a: var(--a) var(--a); color: var(--a)'>shown</p>" },
        { "custom properties that double at each step",
            "<style>p { --v0: 1px; " + [] {
                std::string steps;
                for (int n = 1; n < 40; ++n)
                    steps += "--v" + std::to_string(n) + ": var(--v" + std::to_string(n - 1) + ") var(--v" + std::to_string(n - 1) + "); ";
                return steps;
            }() + "margin-left: var(--v39) }</style><p>shown</p>" },
        { "rules nested 100,000 deep", "<style>" + repeat("p {", 100000) + "color: #ff0000" + repeat("}", 100000) + "</style><p>shown</p>" },
        { "a media query of 40,000 conditions", "<style>@media screen" + repeat(" and (min-width: 1px) and (prefers-color-scheme: light)", 20000) + " { p { color: #ff0000 } }</style><p>shown</p>" },
        { "nested lists of 2,000 selectors", "<style>" + repeat("p,", 2000) + "p{" + repeat("b,", 2000) + "b{" + repeat("i,", 2000) + "i{color: #ff0000}}}</style><p>shown<b><i>x</i></b></p>" },
    };
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 375, 667);
    for (auto& test : cases) {
        std::ofstream("/proc/self/clear_refs") << "5";
        auto before = taskMemoryInfo();
        auto start = std::chrono::steady_clock::now();
        auto page = WebPage::create(boundedHTMLNesting(test.page), NSURL::fileURLWithPath("/pages/page.html"), loader);
        ASSERT_TRUE(page) << test.name;
        page->layout(375);
        auto* cr = cairo_create(surface);
        page->draw(cr, CGRectMake(0, 0, 375, 667));
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        auto after = taskMemoryInfo();
        std::printf("%-40s %6.2f s, peak %+5.0f MB\n", test.name, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            (double(after->residentSizePeak) - double(before->residentSize)) / (1 << 20));
        EXPECT_GT(page->height(), 10) << test.name;
        int dark = 0;
        auto* pixels = cairo_image_surface_get_data(surface);
        for (int i = 0; i < 375 * 667; ++i)
            dark += pixels[i * 4] < 128 && pixels[i * 4 + 1] < 128;
        EXPECT_GT(dark, 20) << test.name << ": its text is drawn";
        EXPECT_LT(after->residentSizePeak, before->residentSize + (512u << 20)) << test.name;
    }
    cairo_surface_destroy(surface);
}

TEST(StyleBoundsTest, MediaQueriesTheEngineCannotReadAreDecidedForIt)
{
    struct Case {
        const char* css;
        const char* kept;
    } cases[] = {
        { "@media (prefers-color-scheme: dark) { p { a: b } } p { c: d }", "p{ c: d }" },
        { "@media (prefers-color-scheme: light) { p { a: b } }", "@media all{p{ a: b }}" },
        { "@media screen and (prefers-color-scheme: light) and (max-width: 600px) { p { a: b } }", "@media screen and (max-width: 600px){p{ a: b }}" },
        { "@media (prefers-color-scheme: light) and (max-width: 600px) { p { a: b } }", "@media (max-width: 600px){p{ a: b }}" },
        { "@media (hover: hover), print { p { a: b } }", "@media print{p{ a: b }}" },
        { "@media (width >= 600px) { p { a: b } }", "@media (min-width:600px){p{ a: b }}" },
        { "@media (40em > width) { p { a: b } }", "@media (max-width:40em){p{ a: b }}" },
        { "@media only screen and (MAX-WIDTH: 600px) { p { a: b } }", "@media only screen and (max-width: 600px){p{ a: b }}" },
        { "p { @media (prefers-color-scheme: dark) { color: red } }", "p{}" },
    };
    for (auto& test : cases)
        EXPECT_EQ(StyleBounds("<p>x</p>").boundedSheet(test.css), test.kept) << test.css;
}
