#include "platform/uikit/UIWebView.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/RendererProcess.h"

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

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

    // A renderer that says nothing for this long while the app owes it nothing is ended.
    constexpr auto rendererSilence = std::chrono::seconds(30);

    bool mayLeadTo(const NSURL& url, bool fromFilePage)
    {
        auto& scheme = url.scheme();
        return scheme == "http" || scheme == "https" || (scheme == "file" && fromFilePage);
    }

    bool isHTML(const NSURLResponse& response)
    {
        return response.MIMEType == "text/html" || response.MIMEType == "application/xhtml+xml";
    }

    std::optional<renderer::DocumentKind> renderedKind(const NSURLResponse& response, const Bytes& data)
    {
        if (isHTML(response))
            return renderer::DocumentKind::HTML;
        if (response.MIMEType == "application/msword")
            return renderer::DocumentKind::Word;
        if (response.MIMEType.starts_with("image/"))
            return renderer::DocumentKind::Picture;
        // A PDF served under another type is known by its first bytes.
        constexpr std::string_view pdfStart = "%PDF-";
        if (response.MIMEType == "application/pdf" || (data.size() >= pdfStart.size() && std::equal(pdfStart.begin(), pdfStart.end(), data.begin())))
            return renderer::DocumentKind::PDF;
        return std::nullopt;
    }

    std::string contentType(const NSURLResponse& response)
    {
        for (auto& [name, value] : response.allHeaderFields) {
            if (name.size() == 12 && std::equal(name.begin(), name.end(), "content-type", [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
                return value.substr(0, renderer::maximumText);
        }
        return {};
    }

    struct Fetched {
        std::optional<NSURLResponse> response;
        Bytes body;
    };

    struct Shown {
        std::string title;
        CGFloat height = 0;
    };

    // Loads the document; for one a renderer shows, starts the renderer, answers its requests
    // for style sheets, waits for its first pixels (shown), then loads what the page references,
    // handing its pictures over to the renderer as they come.
    void loadPage(const NSURLRequest& request, const renderer::Viewport& viewport, UIWebView::PageLoad& page,
        const std::function<std::shared_ptr<RendererProcess>()>& startRenderer, const std::function<void(Shown)>& shown)
    {
        NSURLResponse response(request.URL);
        auto data = NSURLConnection::sendSynchronousRequest(request, &response, &page.error);
        if (!data)
            return;
        page.data = std::move(*data);
        page.response = response;
        auto kind = renderedKind(response, page.data);
        if (!kind)
            return;
        auto fail = [&](int code) {
            page.response.reset();
            page.error = NSError::posix(code, response.URL.path());
        };
        renderer::Load load { *kind, response.URL.absoluteString(), contentType(response), {}, viewport };
        // Bigger pages are shown only this far; other documents must come whole.
        if (*kind == renderer::DocumentKind::HTML)
            load.data.assign(page.data.begin(), page.data.begin() + static_cast<std::ptrdiff_t>(std::min(page.data.size(), renderer::maximumDocument)));
        else if (page.data.size() <= renderer::maximumResourceBody)
            load.data = page.data;
        else
            return fail(EFBIG);
        if (load.URL.size() > renderer::maximumURL)
            return fail(ENAMETOOLONG);
        auto process = startRenderer();
        if (!process)
            return fail(ENOEXEC);
        process->send(std::move(load));

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
        auto answer = [&](const std::string& reference, bool picture) {
            renderer::Resource resource { reference, false, {}, {} };
            auto url = NSURL::URLWithString(reference);
            bool allowed = url && mayLeadTo(*url, filePage) && (picture || fetched.size() < UIWebView::maximumResources);
            if (allowed) {
                auto& body = fetch(*url);
                if (body.response && body.body.size() <= renderer::maximumResourceBody) {
                    resource.loaded = true;
                    resource.MIMEType = body.response->MIMEType.substr(0, renderer::maximumText);
                    resource.body = std::move(body.body);
                    body.body = {};
                }
            }
            process->send(std::move(resource), picture);
        };

        // Style sheets as the renderer asks for them, until it knows the whole page. The page is
        // shown with its first pixels, those of its first part when it has one; a renderer that
        // ends before any fails the load.
        std::optional<renderer::PageInfo> info;
        auto heard = std::chrono::steady_clock::now();
        auto showFirstPixels = [&](const renderer::PageInfo& facts) {
            while (!process->waitUntilDrawn(std::chrono::milliseconds(250))) {
                if (process->hasEnded())
                    return false;
                if (std::chrono::steady_clock::now() - heard > rendererSilence)
                    process->terminate();
            }
            if (!page.shown)
                shown({ facts.title, facts.height });
            page.shown = true;
            return true;
        };
        // Once the page shows, a renderer that ends or gives up leaves it as it is.
        auto gaveUp = [&](int code) {
            if (!page.shown)
                fail(code);
        };
        while (!info) {
            auto message = process->nextMessage(std::chrono::milliseconds(250));
            if (!message) {
                if (process->hasEnded())
                    return gaveUp(ECANCELED);
                if (std::chrono::steady_clock::now() - heard > rendererSilence)
                    process->terminate();
                continue;
            }
            heard = std::chrono::steady_clock::now();
            if (auto* wanted = std::get_if<renderer::Request>(&*message)) {
                // A picture asks for nothing: its renderer gets no answer but a refusal.
                if (*kind == renderer::DocumentKind::Picture)
                    process->send(renderer::Resource { wanted->URL, false, {}, {} });
                else
                    answer(wanted->URL, false);
            } else if (auto* facts = std::get_if<renderer::PageInfo>(&*message)) {
                if (!showFirstPixels(*facts))
                    return gaveUp(ECANCELED);
                if (facts->complete)
                    info = std::move(*facts);
            } else if (std::holds_alternative<renderer::Failed>(*message)) {
                process->terminate();
                return gaveUp(EINVAL);
            }
        }
        NSURL base = response.URL;
        if (info->base) {
            if (auto resolved = URLByResolvingReference(*info->base, response.URL))
                base = *resolved;
        }
        for (auto& [text, reference] : info->links) {
            if (page.links.size() >= UIWebView::maximumLinks)
                break;
            if (auto url = URLByResolvingReference(reference, base); url && mayLeadTo(*url, filePage))
                page.links.push_back({ text, *url });
        }
        std::vector<NSURL> resources;
        for (auto& reference : info->resources) {
            if (auto url = URLByResolvingReference(reference, base))
                resources.push_back(*url);
        }
        std::set<std::string> pictureURLs;
        for (auto& picture : info->pictures) {
            if (auto url = NSURL::URLWithString(picture)) {
                resources.push_back(*url);
                pictureURLs.insert(url->absoluteString());
            }
        }
        std::set<std::string> seen;
        for (auto& url : resources) {
            if (page.resources.size() >= UIWebView::maximumResources)
                break;
            if (!mayLeadTo(url, filePage) || !seen.insert(url.absoluteString()).second)
                continue;
            auto& resource = fetch(url);
            page.resources.push_back({ url, resource.response, resource.body.size() });
            if (resource.response && pictureURLs.count(url.absoluteString()) && !process->hasEnded())
                answer(url.absoluteString(), true);
        }
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

UIWebView::~UIWebView()
{
    releaseRenderer();
}

void UIWebView::releaseRenderer()
{
    if (!m_renderer)
        return;
    // Ended at once; its thread is joined off the main thread.
    m_renderer->terminate();
    DispatchQueue::global(QualityOfService::Utility).async([renderer = std::move(m_renderer)] {});
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
    // A view not yet sized is laid out at the screen's size, as it most likely will be.
    auto& screen = UIScreen::mainScreen();
    renderer::Viewport viewport;
    viewport.width = std::clamp(bounds().size.width > 0 ? bounds().size.width : screen.bounds().size.width, 1.0, renderer::maximumPoints);
    viewport.height = std::clamp(bounds().size.height > 0 ? bounds().size.height : screen.bounds().size.height, 1.0, renderer::maximumPoints);
    viewport.scale = std::clamp(screen.scale(), 0.25, 4.0);
    DispatchQueue::global(QualityOfService::UserInitiated).async([weak, request, generation, viewport] {
        auto page = std::make_shared<PageLoad>();
        auto onMain = [weak, generation](auto work) {
            DispatchQueue::main().async([weak, generation, work = std::move(work)]() mutable {
                auto self = std::static_pointer_cast<UIWebView>(weak.lock());
                if (self && self->m_generation == generation)
                    work(*self);
            });
        };
        std::shared_ptr<RendererProcess> process;
        auto startRenderer = [&]() -> std::shared_ptr<RendererProcess> {
            RendererProcess::Handlers handlers;
            handlers.drawn = [onMain](std::shared_ptr<RendererProcess::Drawn> drawn) {
                auto pixels = std::make_shared<RenderedPixels>();
                pixels->place = CGRectMake(0, drawn->viewport.top, drawn->viewport.width, drawn->viewport.height);
                pixels->scale = drawn->viewport.scale;
                pixels->image = std::move(drawn->image);
                auto height = drawn->contentHeight;
                onMain([pixels = std::move(pixels), height](UIWebView& view) mutable {
                    view.m_renderedHeight = height;
                    view.showPixels(view.m_generation, std::move(pixels));
                });
            };
            handlers.link = [onMain](renderer::LinkAt link) {
                onMain([link = std::move(link)](UIWebView& view) { view.followClicked(view.m_generation, link.URL, link.anchorTop); });
            };
            process = RendererProcess::start(std::move(handlers));
            if (process) {
                onMain([process](UIWebView& view) {
                    view.releaseRenderer();
                    view.m_renderer = process;
                });
            }
            return process;
        };
        loadPage(request, viewport, *page, startRenderer, [&](Shown shown) {
            onMain([shown = std::move(shown)](UIWebView& view) { view.showPage(view.m_generation, shown.title, shown.height); });
        });
        DispatchQueue::main().async([weak, generation, page = std::move(page)] {
            auto self = std::static_pointer_cast<UIWebView>(weak.lock());
            if (self && self->m_generation == generation)
                self->finishLoad(*page);
        });
        // A renderer its view no longer wants ends here.
        if (process && weak.expired())
            process->terminate();
    });
}

void UIWebView::showPage(std::uint64_t generation, std::string title, CGFloat height)
{
    if (generation != m_generation)
        return;
    m_rendered = true;
    m_renderedPage = generation;
    m_title = std::move(title);
    m_renderedHeight = height;
    ++m_pageRevision;
}

void UIWebView::showPixels(std::uint64_t generation, std::shared_ptr<RenderedPixels> pixels)
{
    if (generation != m_generation)
        return;
    m_pixels = std::move(pixels);
    ++m_pageRevision;
}

void UIWebView::requestPixels(CGFloat width, CGFloat height, CGFloat scale, CGFloat top)
{
    if (!m_renderer || width < 1 || height < 1)
        return;
    renderer::Viewport viewport;
    viewport.width = std::min(width, renderer::maximumPoints);
    viewport.height = std::min(height, renderer::maximumPoints);
    viewport.scale = std::clamp(scale, 0.25, 4.0);
    viewport.top = std::clamp(top, 0.0, renderer::maximumPageHeight);
    m_renderer->setViewport(viewport);
}

void UIWebView::clickAt(CGPoint point)
{
    if (!m_renderer || !std::isfinite(point.x) || !std::isfinite(point.y))
        return;
    m_renderer->send(renderer::Click { ++m_clicks, std::clamp(point.x, -renderer::maximumPoints, renderer::maximumPoints),
        std::clamp(point.y, -renderer::maximumPoints, renderer::maximumPageHeight) });
}

void UIWebView::followClicked(std::uint64_t generation, const std::optional<std::string>& URL, std::optional<double> anchorTop)
{
    if (generation != m_generation || !URL)
        return;
    // What the renderer names is checked like any other link.
    auto url = NSURL::URLWithString(*URL);
    if (!url)
        return;
    auto withoutFragment = [](const NSURL& link) { return std::string_view(link.absoluteString()).substr(0, link.absoluteString().find('#')); };
    auto shown = m_response ? std::optional(m_response->URL) : m_request ? std::optional(m_request->URL)
                                                                         : std::nullopt;
    if (url->fragment() && shown && withoutFragment(*url) == withoutFragment(*shown)) {
        // A link within the page scrolls to its target; nothing loads.
        if (anchorTop)
            drawing::scrollWebViewTo(*this, *anchorTop);
        return;
    }
    if (url->fragment())
        url = NSURL::URLWithString(withoutFragment(*url));
    if (!url || !mayFollow(*url))
        return;
    Link chosen { {}, *url };
    for (auto& link : m_links) {
        if (link.URL == *url) {
            chosen.text = link.text;
            break;
        }
    }
    followLink(chosen);
}

int UIWebView::rendererProcessID() const
{
    return m_renderer && !m_renderer->hasEnded() ? m_renderer->pid() : 0;
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
        m_rendered = false;
        m_renderedPage = 0;
        m_pixels = nullptr;
        m_title.clear();
        m_renderedHeight = 0;
        releaseRenderer();
        ++m_pageRevision;
    }
    if (listener)
        listener->webViewDidFinishLoad(*this);
}

}
