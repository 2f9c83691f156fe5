#include "platform/uikit/UIWebView.h"

#include "platform/foundation/AppHome.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/MimeType.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/RendererRegistry.h"
#include "platform/uikit/WebFetchPolicy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>

namespace vesk::platform {

// Made on a background queue, then handed whole to the main queue.
struct UIWebView::PageLoad {
    std::optional<NSURLResponse> response;
    NSError error;
    Bytes data;
    std::vector<Resource> resources;
    std::vector<Link> links;
    // What the page may make the app fetch or open.
    WebFetchPolicy policy;
    bool shown = false;
};

namespace {

    static_assert(UIWebView::maximumPictureBytes <= renderer::maximumResourceBody && UIWebView::maximumStyleSheetBytes <= renderer::maximumResourceBody);
    static_assert(NSURLConnection::maximumBodyBytes <= renderer::maximumSharedDocument);
    // What a renderer may ask for is its page's share of resources.
    static_assert(RendererProcess::maximumRequests == UIWebView::maximumResources);

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

    bool insideFolder(std::string_view path, std::string_view folder)
    {
        if (folder == "/")
            return path.starts_with('/');
        return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
    }

    std::optional<std::string> realPath(const std::string& path)
    {
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), std::free);
        if (!resolved)
            return std::nullopt;
        return std::string(resolved.get());
    }

    // The folder a local page may read from, as a browser grants a local file its folder: the
    // page's own, or Documents when the page lies there. A page from the network reads no file.
    class LocalFolder {
    public:
        LocalFolder(const NSURL& page, const std::string& documents)
        {
            if (!page.isFileURL())
                return;
            auto real = realPath(page.path());
            if (!real)
                return;
            auto root = realPath(documents);
            if (!root || !insideFolder(*real, *root))
                root = real->substr(0, std::max<std::size_t>(real->rfind('/'), 1));
            m_root = std::move(root);
        }

        // A descriptor of a regular file inside the folder, its real path checked, not the name
        // the page gave; -1 with errno set for anything else: another folder, a link leading
        // out, a FIFO or device, the kernel's own files.
        int open(const NSURL& url) const
        {
            if (!m_root || !url.isFileURL() || !(url.host().empty() || url.host() == "localhost"))
                return refuse(EACCES);
            auto real = realPath(url.path());
            if (!real)
                return -1;
            if (!insideFolder(*real, *m_root) || insideFolder(*real, "/proc") || insideFolder(*real, "/sys") || insideFolder(*real, "/dev"))
                return refuse(EACCES);
            // Nothing but a regular file is opened at all: opening a device may act on it.
            struct stat facts { };
            if (::lstat(real->c_str(), &facts) != 0)
                return -1;
            if (!S_ISREG(facts.st_mode))
                return refuse(EACCES);
            int fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
            if (fd < 0)
                return -1;
            // A folder on the way may have been swapped for a link since it was resolved: what
            // was opened must be what was checked.
            char opened[PATH_MAX];
            auto length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), opened, sizeof opened);
            if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || length <= 0 || static_cast<std::size_t>(length) >= sizeof opened
                || std::string_view(opened, static_cast<std::size_t>(length)) != *real) {
                ::close(fd);
                return refuse(EACCES);
            }
            return fd;
        }

        bool isLocal() const { return m_root.has_value(); }

    private:
        static int refuse(int code)
        {
            errno = code;
            return -1;
        }
        std::optional<std::string> m_root;
    };

    // Up to limit bytes of the file; absent when it holds more or can't be read.
    std::optional<Bytes> readUpTo(int fd, std::size_t limit)
    {
        Bytes contents;
        std::uint8_t buffer[65536];
        for (;;) {
            auto got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return std::nullopt;
            if (got == 0)
                return contents;
            // The file may have grown since it was measured.
            if (static_cast<std::size_t>(got) > limit - contents.size())
                return std::nullopt;
            contents.insert(contents.end(), buffer, buffer + got);
        }
    }

    // What a page's load fetches besides its document, each URL once. A body wanted goes on to
    // the renderer as it comes, within its cap and what is left of the page's; only responses
    // and lengths stay.
    class ResourceLoader {
    public:
        struct Fetched {
            std::optional<NSURLResponse> response;
            std::size_t length = 0;
        };

        ResourceLoader(const NSURL& page, const std::string& documents, const WebFetchPolicy& policy, double timeout)
            : m_local(page, documents)
            , m_policy(policy)
            , m_timeout(timeout)
        {
        }

        // http and https, and for a local page its files (which are checked when read).
        bool mayTake(const NSURL& url) const { return mayLeadTo(url, m_local.isLocal()); }
        std::size_t count() const { return m_fetched.size(); }

        // Loads the URL the first time it is named. With body given, the body is handed back
        // when it fits both caps; past either the resource fails.
        const Fetched& fetch(const NSURL& url, std::size_t cap, std::optional<Bytes>* body)
        {
            auto [entry, added] = m_fetched.try_emplace(url.absoluteString());
            if (!added)
                return entry->second;
            auto& fetched = entry->second;
            std::size_t limit = std::min(cap, UIWebView::maximumPageBytes - m_taken);
            if (url.isFileURL())
                readFile(url, body ? std::optional(limit) : std::nullopt, fetched, body);
            else
                download(url, limit, fetched, body);
            if (body && *body)
                m_taken += (*body)->size();
            return fetched;
        }

    private:
        // A body not wanted is never read: its length is the file's.
        void readFile(const NSURL& url, std::optional<std::size_t> limit, Fetched& fetched, std::optional<Bytes>* body)
        {
            int fd = m_local.open(url);
            if (fd < 0)
                return;
            struct stat facts { };
            bool fits = ::fstat(fd, &facts) == 0 && (!limit || static_cast<std::uint64_t>(facts.st_size) <= *limit);
            std::optional<Bytes> contents;
            if (fits && limit)
                contents = readUpTo(fd, *limit);
            ::close(fd);
            if (!fits || (limit && !contents))
                return;
            NSURLResponse response(url);
            response.MIMEType = mimeTypeForExtension(url.pathExtension()).value_or("application/octet-stream");
            fetched.length = contents ? contents->size() : static_cast<std::size_t>(facts.st_size);
            response.expectedContentLength = static_cast<std::int64_t>(fetched.length);
            fetched.response = std::move(response);
            if (contents)
                *body = std::move(contents);
        }

        // Through the loader, so that the shared URL cache sees it as it sees every load.
        void download(const NSURL& url, std::size_t limit, Fetched& fetched, std::optional<Bytes>* body)
        {
            NSURLResponse answered(url);
            NSError failure;
            auto contents = NSURLConnection::sendSynchronousRequest(m_policy.checked(NSURLRequest(url, m_timeout)), &answered, &failure);
            if (!contents || (body && contents->size() > limit))
                return;
            fetched.length = contents->size();
            fetched.response = std::move(answered);
            if (body)
                *body = std::move(contents);
        }

        LocalFolder m_local;
        WebFetchPolicy m_policy;
        double m_timeout;
        std::size_t m_taken = 0;
        std::map<std::string, Fetched> m_fetched;
    };

    struct WaitingFrame {
        std::mutex mutex;
        std::shared_ptr<RendererProcess::Drawn> frame;
    };

    struct Shown {
        std::string title;
        CGFloat height = 0;
    };

    // Loads the document; for one a renderer shows, starts the renderer, answers its requests
    // for style sheets, waits for its first pixels (shown), then loads what the page references,
    // handing its pictures over to the renderer as they come.
    void loadPage(const NSURLRequest& request, const std::string& documents, const renderer::Viewport& viewport, UIWebView::PageLoad& page,
        const std::function<std::shared_ptr<RendererProcess>(const WebFetchPolicy&)>& startRenderer, const std::function<void(Shown)>& shown)
    {
        NSURLResponse response(request.URL);
        // A page given a renderer again brings its document along.
        bool again = page.response.has_value();
        if (again) {
            response = *page.response;
        } else {
            auto data = NSURLConnection::sendSynchronousRequest(request, &response, &page.error);
            if (!data)
                return;
            page.data = std::move(*data);
            page.response = response;
        }
        page.policy = WebFetchPolicy::forPage(response);
        auto kind = renderedKind(response, page.data);
        if (!kind)
            return;
        auto fail = [&](int code) {
            page.response.reset();
            page.error = NSError::posix(code, response.URL.path());
        };
        renderer::Load load { *kind, response.URL.absoluteString(), contentType(response), {}, viewport };
        if (load.URL.size() > renderer::maximumURL)
            return fail(ENAMETOOLONG);
        // Bigger pages are shown only this far; other documents must come whole, in shared
        // memory when they are too big to go inline.
        int shared = -1;
        if (*kind == renderer::DocumentKind::HTML) {
            load.data.assign(page.data.begin(), page.data.begin() + static_cast<std::ptrdiff_t>(std::min(page.data.size(), renderer::maximumDocument)));
        } else if (page.data.size() <= renderer::maximumResourceBody) {
            load.data = page.data;
        } else if (page.data.size() <= renderer::maximumSharedDocument) {
            shared = renderer::makeSharedDocument(page.data.data(), page.data.size());
            if (shared < 0)
                return fail(errno);
            load.sharedSize = page.data.size();
        } else {
            return fail(EFBIG);
        }
        auto process = startRenderer(page.policy);
        if (!process) {
            if (shared >= 0)
                ::close(shared);
            return fail(ENOEXEC);
        }
        process->send(std::move(load), false, shared);
        // Its messages are read until the whole page's facts, or until the load gives up.
        struct DoneReading {
            RendererProcess& process;
            ~DoneReading() { process.doneReading(); }
        } doneReading { *process };

        // A local page may link to any file; what it reads comes from its folder only, and a
        // page from the network never reaches into the local disk.
        bool filePage = response.URL.isFileURL();
        ResourceLoader loader(response.URL, documents, page.policy, request.timeoutInterval);
        auto answerRequest = [&](const std::string& reference) {
            renderer::Resource resource { reference, false, {}, {} };
            auto url = NSURL::URLWithString(reference);
            if (url && loader.mayTake(*url) && loader.count() < UIWebView::maximumResources) {
                std::optional<Bytes> body;
                auto& fetched = loader.fetch(*url, UIWebView::maximumStyleSheetBytes, &body);
                if (fetched.response && body) {
                    resource.loaded = true;
                    resource.MIMEType = fetched.response->MIMEType.substr(0, renderer::maximumText);
                    resource.body = std::move(*body);
                }
            }
            process->send(std::move(resource));
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
        // A renderer that ends or gives up before the whole page is drawn fails the load, even
        // with its first part on screen: below it the view would stay white. Shown again, a page
        // that showed stays as it is.
        auto gaveUp = [&](int code) {
            if (!again || !page.shown)
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
                    answerRequest(wanted->URL);
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
        process->doneReading();
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
            if (!loader.mayTake(url) || !seen.insert(url.absoluteString()).second)
                continue;
            // Shown again, the page needs only its pictures' bodies; its resources were counted.
            bool picture = pictureURLs.count(url.absoluteString()) && !process->hasEnded();
            if (again && !picture)
                continue;
            std::optional<Bytes> body;
            auto& fetched = loader.fetch(url, UIWebView::maximumPictureBytes, picture ? &body : nullptr);
            page.resources.push_back({ url, fetched.response, fetched.length });
            if (fetched.response && body)
                process->send(renderer::Resource { url.absoluteString(), true, fetched.response->MIMEType.substr(0, renderer::maximumText), std::move(*body) }, true);
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
    follow(link.URL, m_linksPolicy);
}

void UIWebView::follow(const NSURL& URL, const WebFetchPolicy& policy)
{
    // What a page leads to is fetched as the page would fetch it.
    NSURLRequest request(URL);
    if (m_request)
        request.timeoutInterval = m_request->timeoutInterval;
    startLoad(policy.checked(request), UIWebViewNavigationType::LinkClicked);
}

UIWebView::~UIWebView()
{
    RendererRegistry::shared().forget(this);
    releaseRenderer();
}

void UIWebView::releaseRenderer()
{
    if (!m_renderer)
        return;
    // Ended at once; its thread is joined off the main thread.
    RendererRegistry::shared().released(*m_renderer);
    m_renderer->terminate();
    DispatchQueue::global(QualityOfService::Utility).async([renderer = std::move(m_renderer)] {});
}

void UIWebView::startLoad(const NSURLRequest& asked, UIWebViewNavigationType type)
{
    if (auto listener = delegate(); listener && !listener->shouldStartLoadWithRequest(*this, asked, type))
        return;
    auto request = asked.mayConnect ? asked : WebFetchPolicy::forNavigation(asked.URL).checked(asked);
    auto generation = ++m_generation;
    m_request = request;
    m_loading = true;
    m_reviving = false;
    RendererRegistry::shared().setBusy(this, true);
    if (auto listener = delegate())
        listener->webViewDidStartLoad(*this);
    // The start may have been answered with another load or a stop.
    if (generation != m_generation)
        return;
    // A view not yet sized is laid out at the screen's size, as it most likely will be.
    auto& screen = UIScreen::mainScreen();
    renderer::Viewport viewport;
    viewport.width = std::clamp(bounds().size.width > 0 ? bounds().size.width : screen.bounds().size.width, 1.0, renderer::maximumPoints);
    viewport.height = std::clamp(bounds().size.height > 0 ? bounds().size.height : screen.bounds().size.height, 1.0, renderer::maximumPoints);
    viewport.scale = std::clamp(screen.scale(), 0.25, 4.0);
    launch(request, viewport, generation, nullptr);
}

void UIWebView::launch(const NSURLRequest& request, const renderer::Viewport& viewport, std::uint64_t generation, std::shared_ptr<PageLoad> known)
{
    std::weak_ptr<UIView> weak = weak_from_this();
    const void* owner = this;
    bool revival = known != nullptr;
    // Read here: the home comes from the environment, which only the main thread changes.
    auto documents = documentsDirectory();
    DispatchQueue::global(QualityOfService::UserInitiated).async([weak, owner, request, generation, viewport, revival, documents, known = std::move(known)]() mutable {
        auto page = known ? std::move(known) : std::make_shared<PageLoad>();
        auto onMain = [weak, generation](auto work) {
            DispatchQueue::main().async([weak, generation, work = std::move(work)]() mutable {
                auto self = std::static_pointer_cast<UIWebView>(weak.lock());
                if (self && self->m_generation == generation)
                    work(*self);
            });
        };
        std::shared_ptr<RendererProcess> process;
        auto startRenderer = [&](const WebFetchPolicy& policy) -> std::shared_ptr<RendererProcess> {
            RendererProcess::Handlers handlers;
            // Only the newest frame waits for the main loop: a renderer drawing faster than the
            // app shows its frames replaces the one waiting instead of piling up mapped pixels.
            auto waiting = std::make_shared<WaitingFrame>();
            handlers.drawn = [onMain, waiting](std::shared_ptr<RendererProcess::Drawn> drawn) {
                {
                    std::lock_guard lock(waiting->mutex);
                    bool posted = waiting->frame != nullptr;
                    waiting->frame = std::move(drawn);
                    if (posted)
                        return;
                }
                onMain([waiting](UIWebView& view) {
                    std::shared_ptr<RendererProcess::Drawn> drawn;
                    {
                        std::lock_guard lock(waiting->mutex);
                        drawn = std::move(waiting->frame);
                    }
                    if (!drawn)
                        return;
                    auto pixels = std::make_shared<RenderedPixels>();
                    pixels->place = CGRectMake(drawn->viewport.left, drawn->viewport.top, drawn->viewport.width, drawn->viewport.height);
                    pixels->scale = drawn->viewport.scale;
                    pixels->image = std::move(drawn->image);
                    view.m_renderedHeight = drawn->contentHeight;
                    view.m_renderedWidth = drawn->contentWidth;
                    view.showPixels(view.m_generation, std::move(pixels));
                });
            };
            // Where a renderer leads is judged by what its own page may reach.
            handlers.link = [onMain, policy](renderer::LinkAt link) {
                onMain([link = std::move(link), policy](UIWebView& view) { view.followClicked(view.m_generation, link.URL, link.anchorTop, policy); });
            };
            process = RendererRegistry::shared().start(owner, [&] { return RendererProcess::start(std::move(handlers)); });
            if (process) {
                onMain([process](UIWebView& view) {
                    view.releaseRenderer();
                    view.m_renderer = process;
                });
            }
            return process;
        };
        loadPage(request, documents, viewport, *page, startRenderer, [&](Shown shown) {
            onMain([shown = std::move(shown), revival](UIWebView& view) { view.showPage(view.m_generation, shown.title, shown.height, revival); });
        });
        DispatchQueue::main().async([weak, generation, revival, page = std::move(page)] {
            auto self = std::static_pointer_cast<UIWebView>(weak.lock());
            if (!self || self->m_generation != generation)
                return;
            if (revival)
                self->finishRevival(*page);
            else
                self->finishLoad(*page);
        });
        // A renderer its view no longer wants ends here.
        if (process && weak.expired())
            process->terminate();
    });
}

void UIWebView::setOnScreen(bool onScreen)
{
    auto& registry = RendererRegistry::shared();
    registry.setShown(this, onScreen);
    // Only a page still live is given a renderer again: a stopped or replaced one is not.
    if (onScreen && !m_loading && !m_reviving && m_rendered && m_shownGeneration == m_generation && m_renderer && registry.endedForRoom(*m_renderer))
        revive();
}

void UIWebView::revive()
{
    if (!m_response || !m_request)
        return;
    auto generation = ++m_generation;
    m_shownGeneration = generation;
    m_reviving = true;
    RendererRegistry::shared().setBusy(this, true);
    auto known = std::make_shared<PageLoad>();
    known->response = m_response;
    known->data = m_documentData;
    // Drawn first where it was last drawn, so that the view shows the same place.
    auto& screen = UIScreen::mainScreen();
    renderer::Viewport viewport;
    if (m_pixels) {
        viewport.width = m_pixels->place.size.width;
        viewport.height = m_pixels->place.size.height;
        viewport.top = m_pixels->place.origin.y;
        viewport.left = m_pixels->place.origin.x;
        viewport.scale = m_pixels->scale;
    } else {
        viewport.width = bounds().size.width > 0 ? bounds().size.width : screen.bounds().size.width;
        viewport.height = bounds().size.height > 0 ? bounds().size.height : screen.bounds().size.height;
        viewport.scale = screen.scale();
    }
    viewport.width = std::clamp(viewport.width, 1.0, renderer::maximumPoints);
    viewport.height = std::clamp(viewport.height, 1.0, renderer::maximumPoints);
    viewport.top = std::clamp(viewport.top, 0.0, renderer::maximumPageHeight);
    viewport.left = std::clamp(viewport.left, 0.0, renderer::maximumPageWidth);
    viewport.scale = std::clamp(viewport.scale, 0.25, 4.0);
    launch(NSURLRequest(m_response->URL, m_request->timeoutInterval), viewport, generation, std::move(known));
}

void UIWebView::finishRevival(PageLoad& page)
{
    m_reviving = false;
    RendererRegistry::shared().setBusy(this, false);
    // A renderer that could not show the page again leaves the last pixels as they are.
    if (!page.shown)
        releaseRenderer();
}

void UIWebView::showPage(std::uint64_t generation, std::string title, CGFloat height, bool again)
{
    if (generation != m_generation)
        return;
    m_rendered = true;
    // The same page shown again keeps its place.
    if (!again)
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

void UIWebView::requestPixels(CGFloat width, CGFloat height, CGFloat scale, CGFloat top, CGFloat left)
{
    if (!m_renderer || width < 1 || height < 1)
        return;
    renderer::Viewport viewport;
    viewport.width = std::min(width, renderer::maximumPoints);
    viewport.height = std::min(height, renderer::maximumPoints);
    viewport.scale = std::clamp(scale, 0.25, 4.0);
    viewport.top = std::clamp(top, 0.0, renderer::maximumPageHeight);
    viewport.left = std::clamp(left, 0.0, renderer::maximumPageWidth);
    m_renderer->setViewport(viewport);
}

void UIWebView::clickAt(CGPoint point)
{
    if (!m_renderer || !std::isfinite(point.x) || !std::isfinite(point.y))
        return;
    m_renderer->send(renderer::Click { ++m_clicks, std::clamp(point.x, -renderer::maximumPoints, renderer::maximumPoints),
        std::clamp(point.y, -renderer::maximumPoints, renderer::maximumPageHeight) });
}

void UIWebView::followClicked(std::uint64_t generation, const std::optional<std::string>& URL, std::optional<double> anchorTop, const WebFetchPolicy& policy)
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
    follow(*url, policy);
}

int UIWebView::rendererProcessID() const
{
    return m_renderer && !m_renderer->hasEnded() ? m_renderer->pid() : 0;
}

void UIWebView::stopLoading()
{
    // A page that has finished stays live: its pixels and links keep coming.
    if (!m_loading)
        return;
    ++m_generation;
    m_loading = false;
    RendererRegistry::shared().setBusy(this, false);
}

void UIWebView::finishLoad(PageLoad& page)
{
    m_loading = false;
    RendererRegistry::shared().setBusy(this, false);
    auto listener = delegate();
    auto forgetRenderedPage = [&] {
        m_rendered = false;
        m_renderedPage = 0;
        m_pixels = nullptr;
        m_title.clear();
        m_renderedHeight = 0;
        m_renderedWidth = 0;
        releaseRenderer();
        ++m_pageRevision;
    };
    if (!page.response) {
        // A first part shown is no page.
        if (page.shown)
            forgetRenderedPage();
        if (listener)
            listener->didFailLoadWithError(*this, page.error);
        return;
    }
    m_shownGeneration = m_generation;
    m_response = std::move(page.response);
    m_documentData = std::move(page.data);
    m_resources = std::move(page.resources);
    m_links = std::move(page.links);
    m_linksPolicy = std::move(page.policy);
    if (!page.shown)
        forgetRenderedPage();
    if (listener)
        listener->webViewDidFinishLoad(*this);
}

}
