#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSURLRequest.h"
#include "platform/uikit/UIView.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vesk::platform {

class UIWebView;

// Told of each load in order: started, then finished or failed. Every call is optional.
class UIWebViewDelegate {
public:
    virtual ~UIWebViewDelegate() = default;
    virtual void webViewDidStartLoad(UIWebView&) { }
    virtual void webViewDidFinishLoad(UIWebView&) { }
    virtual void didFailLoadWithError(UIWebView&, const std::optional<NSError>&) { }
};

// Loads a page through the URL loader (NSURLConnection) on a background queue: the document,
// then, for an HTML document, each resource it references (images, scripts, style sheets and
// icons, media and their sources, frames), each URL once. No script runs. A page from the
// network may reference only http and https resources; a file page also files.
// Main thread only; the delegate hears from the main queue.
class UIWebView : public UIView {
public:
    // One resource of the page; no response when it failed to load.
    struct Resource {
        NSURL URL;
        std::optional<NSURLResponse> response;
        std::size_t length = 0;
    };

    static constexpr std::size_t maximumResources = 256;

    using UIView::UIView;

    std::shared_ptr<UIWebViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIWebViewDelegate>& delegate) { m_delegate = delegate; }

    // Starts a load at once, replacing any load under way (which then reports nothing).
    void loadRequest(const NSURLRequest& request);
    void stopLoading();
    bool isLoading() const { return m_loading; }
    // The page shown or being loaded.
    const std::optional<NSURLRequest>& request() const { return m_request; }

    // What the last finished load brought.
    const std::optional<NSURLResponse>& response() const { return m_response; }
    const Bytes& documentData() const { return m_documentData; }
    const std::vector<Resource>& resources() const { return m_resources; }

    struct PageLoad;

private:
    void finishLoad(PageLoad& page);

    std::weak_ptr<UIWebViewDelegate> m_delegate;
    std::optional<NSURLRequest> m_request;
    bool m_loading = false;
    std::uint64_t m_generation = 0;
    std::optional<NSURLResponse> m_response;
    Bytes m_documentData;
    std::vector<Resource> m_resources;
};

// The URLs an HTML document references for loading, in document order, as written (not yet
// resolved), and the first <base href>, if any.
struct HTMLReferences {
    std::optional<std::string> base;
    std::vector<std::string> resources;
};
HTMLReferences htmlResourceReferences(const Bytes& html);

}
