// vesk-renderer: parses, lays out and draws one web view's document (HTML, a Word document or an
// SVG file) for the app, which talks to it over the socket on descriptor 3. It reads nothing
// from disk or network itself: the app hands it the document and every resource it asks for.

#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/uikit/HTMLNesting.h"
#include "platform/uikit/RendererProtocol.h"
#include "platform/uikit/WebPage.h"
#include "platform/uikit/WordDocument.h"
#include "renderer/Sandbox.h"

#include <cairo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

using namespace vesk::platform;
using namespace vesk::platform::renderer;

namespace {

constexpr int socketDescriptor = 3;
constexpr std::uint64_t memoryLimit = 1ull << 30;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

// The processor-time alarm: SIGPROF's default action ends the process.
void armWorkTimer(bool on)
{
    itimerval timer {};
    if (on)
        timer.it_value.tv_sec = workSeconds;
    ::setitimer(ITIMER_PROF, &timer, nullptr);
}

[[noreturn]] void quit()
{
    // No exit handlers: the app is gone or broke the protocol, and there is nothing to keep.
    ::_exit(0);
}

// Starts fontconfig, pango and the engine while every file may still be read: fontconfig reads its
// configuration and caches at first use. Fonts themselves, and the loaders of the picture
// libraries, stay readable under /usr and are loaded when a page needs them.
void warmUp()
{
    auto page = WebPage::create("<p>Warm <b>up</b></p>", NSURL::fileURLWithPath("/warm-up.html"), [](const NSURL&) { return std::optional<std::string>(); });
    if (page) {
        page->layout(320);
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 320, 40);
        auto* cr = cairo_create(surface);
        page->draw(cr, CGRectMake(0, 0, 320, 40));
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
}

class Renderer {
public:
    Renderer()
        : m_channel(socketDescriptor)
    {
    }

    [[noreturn]] void run()
    {
        send(Ready {});
        for (;;) {
            // Waiting for the app costs no time; everything done for it does.
            armWorkTimer(false);
            auto message = next(true);
            armWorkTimer(true);
            handle(*message);
            while (auto more = next(false))
                handle(*more);
            drawIfNeeded();
        }
    }

private:
    void send(const RendererMessage& message, int descriptor = -1)
    {
        if (!m_channel.send(encode(message), descriptor))
            quit();
    }

    // The next message: one put aside while waiting for a style sheet first, then what the app
    // sent. Without waiting, nothing when nothing has come.
    std::optional<AppMessage> next(bool wait)
    {
        if (!m_deferred.empty()) {
            auto message = std::move(m_deferred.front());
            m_deferred.pop_front();
            return message;
        }
        if (!wait && !m_channel.hasInput())
            return std::nullopt;
        auto received = m_channel.receive();
        if (!received)
            quit();
        auto message = decodeAppMessage(received->type, received->payload.data(), received->payload.size());
        if (!message)
            quit();
        return message;
    }

    void handle(AppMessage& message)
    {
        if (auto* load = std::get_if<Load>(&message))
            open(*load);
        else if (auto* viewport = std::get_if<Viewport>(&message))
            m_viewport = *viewport;
        else if (auto* click = std::get_if<Click>(&message))
            answerClick(*click);
        else if (auto* resource = std::get_if<Resource>(&message))
            showPicture(*resource);
    }

    std::optional<std::string> loadStyleSheet(const NSURL& url)
    {
        auto wanted = url.absoluteString();
        send(Request { wanted });
        armWorkTimer(false);
        for (;;) {
            auto received = m_channel.receive();
            if (!received)
                quit();
            auto message = decodeAppMessage(received->type, received->payload.data(), received->payload.size());
            if (!message)
                quit();
            auto* resource = std::get_if<Resource>(&*message);
            if (resource && resource->URL == wanted) {
                armWorkTimer(true);
                if (!resource->loaded)
                    return std::nullopt;
                return std::string(resource->body.begin(), resource->body.end());
            }
            m_deferred.push_back(std::move(*message));
        }
    }

    void open(Load& load)
    {
        // One document per renderer.
        if (m_loaded)
            return;
        m_loaded = true;
        m_viewport = load.viewport;
        auto url = NSURL::URLWithString(load.URL).value_or(NSURL::fileURLWithPath("/"));
        auto styleSheets = [this](const NSURL& sheet) { return loadStyleSheet(sheet); };
        std::string markup;
        switch (load.kind) {
        case DocumentKind::HTML: {
            std::string_view source(reinterpret_cast<const char*>(load.data.data()), std::min(load.data.size(), maximumDocument));
            markup = boundedHTMLNesting(source);
            break;
        }
        case DocumentKind::Word: {
            auto html = htmlFromWordDocument(load.data);
            if (!html) {
                send(Failed { "not a Word document libwv can read" });
                return;
            }
            markup = boundedHTMLNesting(*html);
            break;
        }
        case DocumentKind::SVG:
            // The file shown as a picture of its own size at the top, centred, and no wider
            // than the view.
            markup = "<html><head><style>body { margin: 0; text-align: center } img { max-width: 100% }</style></head><body><img src=\"picture.svg\"></body></html>";
            break;
        }
        load.data.shrink_to_fit();
        m_page = WebPage::create(markup, url, styleSheets);
        if (!m_page) {
            send(Failed { "the document could not be parsed" });
            return;
        }
        if (load.kind == DocumentKind::SVG) {
            auto picture = webPictureWithData(load.data);
            if (!picture) {
                m_page.reset();
                send(Failed { "not an SVG picture" });
                return;
            }
            if (auto place = URLByResolvingReference("picture.svg", url))
                m_page->setPicture(*place, std::move(picture));
        }
        m_page->layout(m_viewport->width);
        auto references = m_page->references();
        PageInfo info;
        info.title = m_page->title().substr(0, maximumText);
        info.height = std::min(maximumPageHeight, std::max(0.0, double(m_page->height())));
        info.base = references.base;
        auto fits = [](const std::string& text) { return text.size() <= maximumURL; };
        for (auto& resource : references.resources) {
            if (info.resources.size() < maximumListed && fits(resource))
                info.resources.push_back(resource);
        }
        for (auto& [text, href] : references.links) {
            if (info.links.size() < maximumListed && fits(href))
                info.links.emplace_back(text.substr(0, maximumText), href);
        }
        if (load.kind != DocumentKind::SVG) {
            for (auto& picture : m_page->pictureURLs()) {
                if (info.pictures.size() < maximumListed && fits(picture.absoluteString()))
                    info.pictures.push_back(picture.absoluteString());
            }
        }
        send(info);
    }

    void showPicture(const Resource& resource)
    {
        if (!m_page || !resource.loaded)
            return;
        auto url = NSURL::URLWithString(resource.URL);
        if (!url)
            return;
        // A picture that can't be read leaves its place empty.
        if (auto picture = webPictureWithData(resource.body)) {
            m_page->setPicture(*url, std::move(picture));
            m_pictures = true;
        }
    }

    void answerClick(const Click& click)
    {
        LinkAt answer { click.serial, std::nullopt };
        if (m_page && m_viewport) {
            m_page->layout(m_viewport->width);
            if (auto url = m_page->linkAt({ click.x, click.y }); url && url->absoluteString().size() <= maximumURL)
                answer.URL = url->absoluteString();
        }
        send(answer);
    }

    void drawIfNeeded()
    {
        if (!m_page || !m_viewport || (m_drawn == m_viewport && !m_pictures))
            return;
        auto viewport = *m_viewport;
        m_page->layout(viewport.width);
        Frame frame;
        frame.viewport = viewport;
        frame.pixelWidth = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::ceil(viewport.width * viewport.scale)), 1, maximumFramePixels);
        frame.pixelHeight = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::ceil(viewport.height * viewport.scale)), 1, maximumFramePixels);
        frame.stride = static_cast<std::uint32_t>(cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, static_cast<int>(frame.pixelWidth)));
        frame.contentHeight = std::min(maximumPageHeight, std::max(0.0, double(m_page->height())));
        auto size = frameBytes(frame);
        if (!size)
            return;
        int memory = static_cast<int>(::syscall(SYS_memfd_create, "vesk-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        if (memory < 0 || ::ftruncate(memory, static_cast<off_t>(*size)) != 0)
            quit();
        auto* pixels = static_cast<unsigned char*>(::mmap(nullptr, *size, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0));
        if (pixels == MAP_FAILED)
            quit();
        auto* surface = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, static_cast<int>(frame.pixelWidth), static_cast<int>(frame.pixelHeight),
            static_cast<int>(frame.stride));
        auto* cr = cairo_create(surface);
        cairo_scale(cr, frame.pixelWidth / viewport.width, frame.pixelHeight / viewport.height);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_translate(cr, 0, -viewport.top);
        m_page->draw(cr, CGRectMake(0, viewport.top, viewport.width, viewport.height));
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        cairo_surface_destroy(surface);
        ::munmap(pixels, *size);
        // Sealed, so that the app can read the pixels without their changing or shrinking under it.
        if (::fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
            quit();
        send(frame, memory);
        ::close(memory);
        m_drawn = viewport;
        m_pictures = false;
    }

    Channel m_channel;
    std::deque<AppMessage> m_deferred;
    std::unique_ptr<WebPage> m_page;
    std::optional<Viewport> m_viewport;
    std::optional<Viewport> m_drawn;
    bool m_loaded = false;
    bool m_pictures = false;
};

}

int main(int argc, char** argv)
{
    // Ends with the app, even one killed outright; one that ended before this line is noticed
    // by its process id.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || ::getppid() != std::atoi(argv[1]))
        return 1;
    if (::fcntl(socketDescriptor, F_GETFD) < 0)
        return 1;
    ::syscall(SYS_close_range, socketDescriptor + 1, ~0u, 0);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGPROF, SIG_DFL);
    if (!sanitized) {
        // Sanitizers reserve terabytes of shadow; their builds are held to it by the app alone.
        rlimit limit { memoryLimit, memoryLimit };
        ::setrlimit(RLIMIT_AS, &limit);
    }
    auto started = std::chrono::steady_clock::now();
    warmUp();
    auto sandbox = vesk::renderer::enterSandbox();
    if (std::getenv("VESK_RENDERER_VERBOSE")) {
        std::fprintf(stderr, "vesk-renderer: warmed up in %.1f ms; files closed off %s, calls closed off %s\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count(), sandbox.files ? "yes" : "no", sandbox.calls ? "yes" : "no");
    }
    Renderer().run();
}
