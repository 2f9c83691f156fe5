#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURLRequest.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/WebFetchPolicy.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vesk::platform::renderer {
struct Viewport;
}

namespace vesk::platform {

class UIImage;
class UIWebView;
class RendererProcess;

enum class UIWebViewNavigationType {
    LinkClicked,
    FormSubmitted,
    BackForward,
    Reload,
    FormResubmitted,
    Other,
};

// Asked before each load whether it may start (a load asked for in code is of type Other);
// then told of it in order: started, then finished or failed. Every call is optional.
class UIWebViewDelegate {
public:
    virtual ~UIWebViewDelegate() = default;
    virtual bool shouldStartLoadWithRequest(UIWebView&, const NSURLRequest&, UIWebViewNavigationType) { return true; }
    virtual void webViewDidStartLoad(UIWebView&) { }
    virtual void webViewDidFinishLoad(UIWebView&) { }
    virtual void didFailLoadWithError(UIWebView&, const std::optional<NSError>&) { }
};

// Loads a page through the URL loader (NSURLConnection) on a background queue: the document,
// then, for an HTML document, each resource it references (images, scripts, style sheets and
// icons, media and their sources, frames, pictures of its styles), each URL once. An HTML page,
// a Word document, a PDF or a picture (an SVG file too) is parsed, laid out and drawn by a renderer
// process of its own (vesk-renderer), held to a memory and a time limit; the app only loads what it asks for
// and shows the newest pixels it drew, so that no page can stall or end the app. The page is
// shown before its pictures, which are shown as they arrive. A renderer that ends keeps what it
// drew on screen; one that ends before the whole page is drawn fails the load. No script runs; forms
// are drawn, never sent. A page from the network may reference only http and https resources;
// a file page also regular files inside its own folder, or inside Documents when it lies there.
// What a page makes the app fetch or open never reaches the machine itself or its private
// networks, unless the page came from there, and then only its own origin (WebFetchPolicy).
// Each picture and style sheet, and all a page hands its renderer together, are capped: past
// a cap the resource fails and the page goes on without it.
// Main thread only; the delegate hears from the main queue.
class UIWebView : public UIView {
public:
    // One resource of the page; no response when it failed to load.
    struct Resource {
        NSURL URL;
        std::optional<NSURLResponse> response;
        std::size_t length = 0;
    };
    // A link of the page: its text and where it leads.
    struct Link {
        std::string text;
        NSURL URL;
    };

    static constexpr std::size_t maximumResources = 256;
    static constexpr std::size_t maximumLinks = 1024;
    static constexpr std::size_t maximumPictureBytes = 32u << 20;
    static constexpr std::size_t maximumStyleSheetBytes = 8u << 20;
    static constexpr std::size_t maximumPageBytes = 256u << 20;

    using UIView::UIView;
    ~UIWebView() override;

    std::shared_ptr<UIWebViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIWebViewDelegate>& delegate) { m_delegate = delegate; }

    // Starts a load at once, unless the delegate refuses it, replacing any load under way
    // (which then reports nothing). A request without a check of its own is a person's: it may
    // reach the host it names wherever that is.
    void loadRequest(const NSURLRequest& request);
    // What a tap on one of the page's links does.
    void followLink(const Link& link);
    // Stops a load under way; a finished page is left as it is.
    void stopLoading();
    bool isLoading() const { return m_loading; }
    // Told by the screen holding the view as it appears and disappears (on screen until told
    // otherwise). A covered view's renderer may be ended when too many run; the view keeps its
    // last pixels, and shown again it gets a new renderer for the same page, at the same place.
    void setOnScreen(bool onScreen);
    // The page shown or being loaded.
    const std::optional<NSURLRequest>& request() const { return m_request; }

    // What the last finished load brought.
    const std::optional<NSURLResponse>& response() const { return m_response; }
    const Bytes& documentData() const { return m_documentData; }
    const std::vector<Resource>& resources() const { return m_resources; }
    // The page's links that lead where the page may lead: http and https, and from a file
    // page also files.
    const std::vector<Link>& links() const { return m_links; }
    // Whether a page drawn by a renderer is shown (an HTML page, a Word document, a PDF or a
    // picture); it comes before the load finishes. Each new page and each newly drawn part of it
    // counts in the revision.
    bool showsRenderedPage() const { return m_rendered; }
    // Changes with each page a renderer shows.
    std::uint64_t renderedPageID() const { return m_renderedPage; }
    std::uint64_t pageRevision() const { return m_pageRevision; }
    // The shown page's title, its height laid out at the view's width, and the newest pixels
    // its renderer drew.
    const std::string& title() const { return m_title; }
    CGFloat renderedHeight() const { return m_renderedHeight; }
    // The width its newest pixels came with: the view's, or more for a page wider than that.
    CGFloat renderedWidth() const { return m_renderedWidth; }
    // Pixels of the page's part from the top, in points, at their scale.
    struct RenderedPixels {
        CGRect place;
        CGFloat scale = 1;
        std::shared_ptr<UIImage> image;
    };
    const std::shared_ptr<RenderedPixels>& renderedPixels() const { return m_pixels; }
    // Asks the renderer for the part of the page shown (width and height in points, device
    // scale, top and left in page coordinates) unless it drew it already. Never waits.
    void requestPixels(CGFloat width, CGFloat height, CGFloat scale, CGFloat top, CGFloat left = 0);
    // Asks the renderer where a click at the point (in page coordinates) leads; a link it
    // names that the page may follow is followed when the answer comes.
    void clickAt(CGPoint point);
    // The renderer's process id while one runs, for tests; 0 when none does.
    int rendererProcessID() const;
    // Whether a link of the shown page may be followed: http and https, and from a file page
    // also files.
    bool mayFollow(const NSURL& URL) const;
    // Shows the last page: a PDF's pages, an HTML document laid out, a picture as itself.
    void drawRect(CGRect rect) override;
    // What the drawing made of the last page. The view keeps it, so that it goes with the view.
    struct DrawnContent;
    DrawnContent& drawnContent();

    struct PageLoad;

private:
    void startLoad(const NSURLRequest& request, UIWebViewNavigationType type);
    // Loads on a background queue; with a known document, gives the shown page a new renderer.
    void launch(const NSURLRequest& request, const renderer::Viewport& viewport, std::uint64_t generation, std::shared_ptr<PageLoad> known);
    void finishLoad(PageLoad& page);
    void revive();
    void finishRevival(PageLoad& page);
    void showPage(std::uint64_t generation, std::string title, CGFloat height, bool again);
    void showPixels(std::uint64_t generation, std::shared_ptr<RenderedPixels> pixels);
    void followClicked(std::uint64_t generation, const std::optional<std::string>& URL, std::optional<double> anchorTop, const WebFetchPolicy& policy);
    void follow(const NSURL& URL, const WebFetchPolicy& policy);
    void releaseRenderer();

    std::weak_ptr<UIWebViewDelegate> m_delegate;
    std::optional<NSURLRequest> m_request;
    bool m_loading = false;
    std::uint64_t m_generation = 0;
    // The generation whose page is shown and live.
    std::uint64_t m_shownGeneration = 0;
    bool m_reviving = false;
    std::optional<NSURLResponse> m_response;
    Bytes m_documentData;
    std::vector<Resource> m_resources;
    std::vector<Link> m_links;
    // What the page the links came from may reach.
    WebFetchPolicy m_linksPolicy;
    std::shared_ptr<RendererProcess> m_renderer;
    bool m_rendered = false;
    std::uint64_t m_renderedPage = 0;
    std::string m_title;
    CGFloat m_renderedHeight = 0;
    CGFloat m_renderedWidth = 0;
    std::shared_ptr<RenderedPixels> m_pixels;
    std::uint64_t m_pageRevision = 0;
    std::uint64_t m_clicks = 0;
    std::shared_ptr<DrawnContent> m_drawnContent;
};

}
