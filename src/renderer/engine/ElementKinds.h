#pragma once

#include <litehtml/litehtml.h>

#include <memory>
#include <string>

namespace vesk::platform {

// What a page's container hears of the changes its elements make themselves.
class PageChanges {
public:
    // A click opened or closed a <details>: the page is laid out again.
    virtual void layoutChanged() = 0;
    // Whether the page's markup or style sheets refer to custom properties (var()) at all.
    virtual bool usesCustomProperties() const = 0;

protected:
    ~PageChanges() = default;
};

// The index a <details>' summary gives its list marker: a disclosure triangle pointing right
// while the details are closed, and down while open.
constexpr int closedDisclosureMarker = -2;
constexpr int openDisclosureMarker = -3;

// Whether the element is wholly transparent (opacity 0), which the engine would draw as if
// opaque: a page's hidden checkbox over its menu button. It and what it holds are not drawn.
bool isTransparent(const litehtml::element& element);

// The element the layout engine makes for the tag, but one that finds a child's place among its
// siblings (for :nth-child and the like) from a table made once for all of them, where the
// engine counts the siblings before it for every rule and every child. Line breaks, <details>
// and <summary> are made to show as in a browser. Null for the other tags that hold no
// elements, which the engine makes itself.
std::shared_ptr<litehtml::element> newElement(const std::string& tag, const std::shared_ptr<litehtml::document>& document);

}
