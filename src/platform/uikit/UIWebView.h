#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURLRequest.h"
#include "platform/uikit/UIView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vesk::platform {

class UIImage;
class UIWebView;
class WebPage;

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
// icons, media and their sources, frames, pictures of its styles), each URL once. An HTML page
// is parsed once and laid out there, its nesting bounded first, and shown before its pictures,
// which are decoded there too and shown as they arrive. No script runs; forms are drawn, never
// sent. A page from the network may reference only http and https resources; a file page also
// files.
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

    using UIView::UIView;

    std::shared_ptr<UIWebViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIWebViewDelegate>& delegate) { m_delegate = delegate; }

    // Starts a load at once, unless the delegate refuses it, replacing any load under way
    // (which then reports nothing).
    void loadRequest(const NSURLRequest& request);
    // What a tap on one of the page's links does.
    void followLink(const Link& link);
    void stopLoading();
    bool isLoading() const { return m_loading; }
    // The page shown or being loaded.
    const std::optional<NSURLRequest>& request() const { return m_request; }

    // What the last finished load brought.
    const std::optional<NSURLResponse>& response() const { return m_response; }
    const Bytes& documentData() const { return m_documentData; }
    const std::vector<Resource>& resources() const { return m_resources; }
    // The page's links that lead where the page may lead: http and https, and from a file
    // page also files.
    const std::vector<Link>& links() const { return m_links; }
    // The HTML page shown, laid out; it comes before the load finishes, its pictures as they
    // arrive (each arrival counts in the revision). Null for other pages.
    const std::shared_ptr<WebPage>& page() const { return m_page; }
    std::uint64_t pageRevision() const { return m_pageRevision; }
    // Whether a link of the shown page may be followed: http and https, and from a file page
    // also files.
    bool mayFollow(const NSURL& URL) const;
    // Shows the last page: a PDF's pages, an HTML document laid out, a picture as itself.
    void drawRect(CGRect rect) override;

    struct PageLoad;

private:
    void startLoad(const NSURLRequest& request, UIWebViewNavigationType type);
    void finishLoad(PageLoad& page);
    void showPage(std::uint64_t generation, std::shared_ptr<WebPage> page);
    void showPictures(std::uint64_t generation, std::vector<std::pair<NSURL, std::shared_ptr<UIImage>>> pictures);

    std::weak_ptr<UIWebViewDelegate> m_delegate;
    std::optional<NSURLRequest> m_request;
    bool m_loading = false;
    std::uint64_t m_generation = 0;
    std::optional<NSURLResponse> m_response;
    Bytes m_documentData;
    std::vector<Resource> m_resources;
    std::vector<Link> m_links;
    std::shared_ptr<WebPage> m_page;
    std::uint64_t m_pageRevision = 0;
};

}
