#include "platform/uikit/UIWebView.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/HTMLEncoding.h"
#include "platform/uikit/HTMLNesting.h"
#include "platform/uikit/WebPage.h"
#include "platform/uikit/WordDocument.h"

#include <cerrno>

#include <chrono>
#include <map>
#include <set>
#include <strings.h>

namespace vesk::platform {

// Made on a background queue, then handed whole to the main queue.
struct UIWebView::PageLoad {
    std::optional<NSURLResponse> response;
    NSError error;
    Bytes data;
    std::vector<Resource> resources;
    std::vector<Link> links;
    bool shown = false;
};

namespace {

    // Bigger documents are shown only this far.
    constexpr std::size_t maximumParsedBytes = 16u << 20;
    // How much of a long page is laid out and shown first: screens of text.
    constexpr std::size_t firstPartBytes = 16 * 1024;
    // Pictures that arrive within this time are shown together: each showing lays the page out.
    constexpr auto pictureBatch = std::chrono::milliseconds(150);

    bool mayLeadTo(const NSURL& url, bool fromFilePage)
    {
        auto& scheme = url.scheme();
        return scheme == "http" || scheme == "https" || (scheme == "file" && fromFilePage);
    }

    bool isHTML(const NSURLResponse& response)
    {
        return response.MIMEType == "text/html" || response.MIMEType == "application/xhtml+xml";
    }

    std::optional<std::string> httpCharset(const NSURLResponse& response)
    {
        for (auto& [name, value] : response.allHeaderFields) {
            if (strcasecmp(name.c_str(), "content-type") == 0)
                return charsetOfContentType(value);
        }
        return std::nullopt;
    }

    using Pictures = std::vector<std::pair<NSURL, std::shared_ptr<UIImage>>>;

    struct Fetched {
        std::optional<NSURLResponse> response;
        Bytes body;
    };

    // Loads the document; for an HTML one, parses and lays it out at the width and hands it over
    // (shown), then loads what it references, handing over its pictures as they are decoded.
    void loadPage(const NSURLRequest& request, CGFloat width, CGFloat scale, UIWebView::PageLoad& page, const std::function<void(std::shared_ptr<WebPage>)>& shown,
        const std::function<void(Pictures)>& pictures)
    {
        NSURLResponse response(request.URL);
        auto data = NSURLConnection::sendSynchronousRequest(request, &response, &page.error);
        if (!data)
            return;
        page.data = std::move(*data);
        page.response = response;
        std::string_view source(reinterpret_cast<const char*>(page.data.data()), std::min(page.data.size(), maximumParsedBytes));
        std::optional<std::string> converted;
        if (response.MIMEType == "application/msword") {
            // Word documents are shown as the HTML made of them.
            converted = htmlFromWordDocument(page.data);
            if (!converted) {
                page.response.reset();
                page.error = NSError::posix(EINVAL, response.URL.path());
                return;
            }
            source = *converted;
        } else if (!isHTML(response)) {
            return;
        } else {
            converted = decodedHTML(source, httpCharset(response)).text;
            source = *converted;
        }
        // A page from the network never reaches into the local disk.
        bool filePage = response.URL.isFileURL();
        std::map<std::string, Fetched> fetched;
        auto fetch = [&](const NSURL& url) -> Fetched& {
            auto [entry, added] = fetched.try_emplace(url.absoluteString());
            if (added) {
                NSURLResponse answered(url);
                NSError failure;
                if (auto body = NSURLConnection::sendSynchronousRequest(NSURLRequest(url, request.timeoutInterval), &answered, &failure)) {
                    entry->second.response = answered;
                    entry->second.body = std::move(*body);
                }
            }
            return entry->second;
        };
        auto loadStyleSheet = [&](const NSURL& url) -> std::optional<std::string> {
            if (!mayLeadTo(url, filePage) || fetched.size() >= UIWebView::maximumResources)
                return std::nullopt;
            auto& sheet = fetch(url);
            if (!sheet.response)
                return std::nullopt;
            return std::string(sheet.body.begin(), sheet.body.end());
        };
        // The parser and the layout recurse as deep as the elements nest.
        auto markup = boundedHTMLNesting(source);
        // A long page's first screenful shows before the whole is laid out.
        if (auto cut = htmlFirstPartEnd(markup, firstPartBytes); cut != std::string::npos) {
            if (auto first = WebPage::create(markup.substr(0, cut), response.URL, loadStyleSheet)) {
                first->layout(width);
                shown(std::move(first));
            }
        }
        std::shared_ptr<WebPage> document = WebPage::create(markup, response.URL, loadStyleSheet);
        if (!document)
            return;
        document->layout(width);
        auto pictureWidths = document->pictureWidths();
        auto references = document->references();
        auto wanted = document->pictureURLs();
        NSURL base = response.URL;
        if (references.base) {
            if (auto resolved = URLByResolvingReference(*references.base, response.URL))
                base = *resolved;
        }
        shown(std::move(document));

        for (auto& [text, reference] : references.links) {
            if (page.links.size() >= UIWebView::maximumLinks)
                break;
            if (auto url = URLByResolvingReference(reference, base); url && mayLeadTo(*url, filePage))
                page.links.push_back({ text, *url });
        }
        std::vector<NSURL> resources;
        for (auto& reference : references.resources) {
            if (auto url = URLByResolvingReference(reference, base))
                resources.push_back(*url);
        }
        std::set<std::string> pictureURLs;
        for (auto& url : wanted) {
            resources.push_back(url);
            pictureURLs.insert(url.absoluteString());
        }
        std::set<std::string> seen;
        Pictures batch;
        auto sent = std::chrono::steady_clock::now();
        for (auto& url : resources) {
            if (page.resources.size() >= UIWebView::maximumResources)
                break;
            if (!mayLeadTo(url, filePage) || !seen.insert(url.absoluteString()).second)
                continue;
            auto& resource = fetch(url);
            page.resources.push_back({ url, resource.response, resource.body.size() });
            if (resource.response && pictureURLs.count(url.absoluteString())) {
                // A picture that can't be read leaves its place empty. One is kept no larger than
                // it is laid out, or than the page is wide.
                auto drawn = pictureWidths.find(url.absoluteString());
                if (auto picture = webPictureWithData(resource.body, scale, std::nullopt, drawn == pictureWidths.end() ? width : drawn->second))
                    batch.emplace_back(url, std::move(picture));
                resource.body = {};
                if (!batch.empty() && std::chrono::steady_clock::now() - sent > pictureBatch) {
                    pictures(std::exchange(batch, {}));
                    sent = std::chrono::steady_clock::now();
                }
            }
        }
        if (!batch.empty())
            pictures(std::move(batch));
    }

}

bool UIWebView::mayFollow(const NSURL& URL) const
{
    return mayLeadTo(URL, m_response ? m_response->URL.isFileURL() : m_request && m_request->URL.isFileURL());
}

void UIWebView::loadRequest(const NSURLRequest& request)
{
    startLoad(request, UIWebViewNavigationType::Other);
}

void UIWebView::followLink(const Link& link)
{
    NSURLRequest request(link.URL);
    if (m_request)
        request.timeoutInterval = m_request->timeoutInterval;
    startLoad(request, UIWebViewNavigationType::LinkClicked);
}

void UIWebView::startLoad(const NSURLRequest& request, UIWebViewNavigationType type)
{
    if (auto listener = delegate(); listener && !listener->shouldStartLoadWithRequest(*this, request, type))
        return;
    auto generation = ++m_generation;
    m_request = request;
    m_loading = true;
    if (auto listener = delegate())
        listener->webViewDidStartLoad(*this);
    // The start may have been answered with another load or a stop.
    if (generation != m_generation)
        return;
    std::weak_ptr<UIView> weak = weak_from_this();
    // A view not yet sized is laid out at the screen's width, as it most likely will be.
    auto width = bounds().size.width > 0 ? bounds().size.width : UIScreen::mainScreen().bounds().size.width;
    auto scale = UIScreen::mainScreen().scale();
    DispatchQueue::global(QualityOfService::UserInitiated).async([weak, request, generation, width, scale] {
        auto page = std::make_shared<PageLoad>();
        loadPage(
            request, width, scale, *page,
            [&](std::shared_ptr<WebPage> document) {
                page->shown = true;
                DispatchQueue::main().async([weak, generation, document = std::move(document)]() mutable {
                    if (auto self = std::static_pointer_cast<UIWebView>(weak.lock()))
                        self->showPage(generation, std::move(document));
                });
            },
            [&](Pictures pictures) {
                DispatchQueue::main().async([weak, generation, pictures = std::move(pictures)]() mutable {
                    if (auto self = std::static_pointer_cast<UIWebView>(weak.lock()))
                        self->showPictures(generation, std::move(pictures));
                });
            });
        DispatchQueue::main().async([weak, generation, page = std::move(page)] {
            auto self = std::static_pointer_cast<UIWebView>(weak.lock());
            if (self && self->m_generation == generation)
                self->finishLoad(*page);
        });
    });
}

void UIWebView::showPage(std::uint64_t generation, std::shared_ptr<WebPage> page)
{
    if (generation != m_generation)
        return;
    m_page = std::move(page);
    ++m_pageRevision;
}

void UIWebView::showPictures(std::uint64_t generation, std::vector<std::pair<NSURL, std::shared_ptr<UIImage>>> pictures)
{
    if (generation != m_generation || !m_page)
        return;
    for (auto& [url, picture] : pictures)
        m_page->setPicture(url, std::move(picture));
    ++m_pageRevision;
}

void UIWebView::stopLoading()
{
    ++m_generation;
    m_loading = false;
}

void UIWebView::finishLoad(PageLoad& page)
{
    m_loading = false;
    auto listener = delegate();
    if (!page.response) {
        if (listener)
            listener->didFailLoadWithError(*this, page.error);
        return;
    }
    m_response = std::move(page.response);
    m_documentData = std::move(page.data);
    m_resources = std::move(page.resources);
    m_links = std::move(page.links);
    if (!page.shown) {
        m_page = nullptr;
        ++m_pageRevision;
    }
    if (listener)
        listener->webViewDidFinishLoad(*this);
}

}
