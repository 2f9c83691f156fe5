#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/graphics/CGGeometry.h"

#include <cairo.h>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

class UIImage;

// A picture of a web page from its bytes: PNG, JPEG, TIFF, GIF, or SVG drawn at its own size
// in pixels of the scale (within the pixel caps of the image decoders), its pictures read from
// the folder of its file (when it has one). Null when it is none of them.
// When it is drawn `drawnWidth` points wide, it is kept at no more pixels than that at the
// scale (a JPEG decoded at a fraction of its size where it can), still as large in points.
std::shared_ptr<UIImage> webPictureWithData(const std::vector<std::uint8_t>& data, CGFloat scale = 1, const std::optional<NSURL>& file = std::nullopt, CGFloat drawnWidth = 0);

// An HTML document laid out and drawn by litehtml through cairo and pango. Made on any one
// thread, then used from one thread at a time. Scripts never run; forms are drawn only.
class WebPage {
public:
    // Fetches a style sheet the page links (its URL already resolved); nothing when it fails.
    using StyleSheetLoader = std::function<std::optional<std::string>(const NSURL&)>;

    // The markup must already have its nesting bounded (boundedHTMLNesting).
    static std::unique_ptr<WebPage> create(std::string markup, const NSURL& URL, const StyleSheetLoader& loadStyleSheet);
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    // What the page references, in document order, as written (not yet resolved).
    struct References {
        std::optional<std::string> base;
        std::vector<std::string> resources;
        // Each link's text and its href.
        std::vector<std::pair<std::string, std::string>> links;
    };
    References references() const;
    // The URLs of the pictures the page draws (<img> and backgrounds), resolved, each once.
    const std::vector<NSURL>& pictureURLs() const;
    // A picture that arrived; the page lays itself out again at its next layout. Once drawn, a
    // picture is kept at no more pixels than it is drawn at.
    void setPicture(const NSURL& URL, std::shared_ptr<UIImage> picture);
    // The width each <img> is laid out at where the page gives it one before its picture
    // arrives, by the picture's resolved URL: pictures need no more pixels than that.
    std::map<std::string, CGFloat> pictureWidths() const;

    // Lays the page out at the width, when the width or its pictures changed since the last time.
    void layout(CGFloat width);
    // Whether the page changed since it was last laid out: a picture came, or a click opened
    // or closed a <details>.
    bool needsLayout() const;
    CGFloat height() const;
    // The layout width, or more where what the page draws reaches further right (a long <pre>).
    CGFloat width() const;
    // The document's title, as its <title> gives it.
    std::string title() const;
    // Draws the page's part in the rectangle (in page coordinates) at the context's origin, its
    // canvas's background filling the rectangle.
    void draw(cairo_t* cr, CGRect visible);
    // Where the link at the point (in page coordinates) leads, if there is one; with its
    // fragment, so that a link within the page can be told apart. A click on a <details>'
    // summary opens or closes it instead.
    std::optional<NSURL> linkAt(CGPoint point);
    // Where the fragment's target starts in the laid-out page (the element with that id, or
    // else the <a> with that name; the top for "top"); absent when the page has none.
    std::optional<CGFloat> anchorTop(const std::string& fragment);

    struct Engine;

private:
    WebPage() = default;
    std::unique_ptr<Engine> m_engine;
};

}
