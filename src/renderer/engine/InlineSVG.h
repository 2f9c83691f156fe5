#pragma once

#include <litehtml/litehtml.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

// How many of a page's inline SVGs are drawn, and how much markup each, and all of them
// together, may have: each is parsed and drawn again as it comes into view. Past them an inline
// SVG takes no room and draws nothing.
constexpr std::size_t maximumInlineSVGs = 1000;
constexpr std::size_t maximumInlineSVGBytes = 8u << 20;
constexpr std::size_t maximumInlineSVGsBytes = 32u << 20;

// A page's inline <svg> elements, drawn by librsvg in the box the layout gives them, as a browser
// draws them: the layout engine would show the words of their text in a row. Each outermost one
// is taken out of the markup whole before the engine parses it, leaving an empty <svg> with the
// same attributes, which the engine lays out as a picture; it is drawn from what was taken out,
// read as the HTML parser reads it, with nothing outside the page's markup (no files, no
// network). Made on one thread, then used from one thread at a time.
class InlineSVGs {
public:
    // The family a CSS font list draws with, as the page's text is drawn.
    using FontFamily = std::function<std::string(const char* families)>;

    explicit InlineSVGs(FontFamily fontFamily);
    ~InlineSVGs();
    InlineSVGs(const InlineSVGs&) = delete;
    InlineSVGs& operator=(const InlineSVGs&) = delete;

    // The markup with the content of its outermost <svg> elements taken out and kept here.
    std::string takenOut(std::string markup);
    // The element for a tag of the markup that was left: one that draws the SVG it stood for;
    // null for any other.
    std::shared_ptr<litehtml::element> newElement(const std::string& tag, const litehtml::string_map& attributes, const std::shared_ptr<litehtml::document>& document);
    // Once a frame is drawn, the SVGs not drawn in it let go of what they were parsed into.
    void frameDrawn();

    struct Picture;
    struct Budget;

private:
    std::vector<std::shared_ptr<Picture>> m_pictures;
    std::size_t m_bytes = 0;
    std::shared_ptr<Budget> m_budget;
};

}
