// vesk-renderer: parses, lays out and draws one web view's document (HTML, a Word document, a PDF
// or a picture, SVG included) for the app, which talks to it over the socket on descriptor 3. It reads nothing
// from disk or network itself: the app hands it the document and every resource it asks for.

#include "platform/foundation/NSURL.h"
#include "platform/graphics/UIImage.h"
#include "renderer/Sandbox.h"
#include "renderer/engine/HTMLEncoding.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/PdfDocument.h"
#include "renderer/engine/WebPage.h"
#include "renderer/engine/WordDocument.h"
#include "renderer/protocol/RendererProtocol.h"

#include <cairo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include <filesystem>
#include <map>
#include <memory>

using namespace vesk::platform;
using namespace vesk::platform::renderer;

namespace {

constexpr int socketDescriptor = 3;
constexpr std::uint64_t memoryLimit = 1ull << 30;
// How much of a long page is laid out and shown first: screens of text.
constexpr std::size_t firstPartBytes = 16 * 1024;

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

// Whether the app's first message, when it is already waiting, loads a PDF: poppler needs nothing
// of the page engine, and fontconfig, its only other reader, reads within the sandbox.
bool firstLoadIsPDF()
{
    std::uint8_t head[9] {};
    auto got = ::recv(socketDescriptor, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
    std::uint32_t type = 0;
    std::memcpy(&type, head, sizeof type);
    return got == sizeof head && type == static_cast<std::uint32_t>(MessageType::Load) && head[8] == static_cast<std::uint8_t>(DocumentKind::PDF);
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
        // The document comes first; the sandbox closes before a byte of it is parsed.
        auto first = next(true);
        auto* load = std::get_if<Load>(&*first);
        if (!load)
            quit();
        std::optional<std::string> folder;
        auto url = NSURL::URLWithString(load->URL);
        // An SVG file's pictures are read from its own folder, as librsvg reads them.
        std::string_view head(reinterpret_cast<const char*>(load->data.data()), std::min<std::size_t>(load->data.size(), 4096));
        if (load->kind == DocumentKind::Picture && head.find("<svg") != std::string_view::npos && url && url->isFileURL())
            folder = std::filesystem::path(url->path()).parent_path().string();
        auto sandbox = vesk::renderer::enterSandbox(folder);
        // Without its filter a renderer taken over by its page could call anything: it draws
        // nothing, and the load fails.
        if (!sandbox.filtered) {
            std::fprintf(stderr, "vesk-renderer: no system-call filter could be loaded; nothing is drawn without one\n");
            send(Failed { "no system-call filter" });
            quit();
        }
        // From here on the app counts its threads; the page gets no way to answer for itself.
        if (sandbox.threads >= 0) {
            send(Threads {}, sandbox.threads);
            ::close(sandbox.threads);
        }
        if (std::getenv("VESK_RENDERER_VERBOSE"))
            std::fprintf(stderr, "vesk-renderer: files closed off %s, calls closed off %s, privileges dropped %s, threads counted %s\n", sandbox.files ? "yes" : "no",
                sandbox.calls ? "yes" : "no", sandbox.privileges ? "yes" : "no", sandbox.threads >= 0 ? "yes" : "no");
        armWorkTimer(true);
        open(*load);
        drawIfNeeded();
        if (m_whole) {
            armWorkTimer(true);
            openWhole();
        }
        for (;;) {
            drawIfNeeded();
            // Waiting for the app costs no time; everything done for it does.
            armWorkTimer(false);
            auto message = next(true);
            armWorkTimer(true);
            handle(*message);
            while (auto more = next(false))
                handle(*more);
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
        return receive();
    }

    // The app's next message; the renderer ends when the app has gone or says what it cannot.
    AppMessage receive()
    {
        auto received = m_channel.receive();
        if (!received)
            quit();
        auto message = decodeAppMessage(received->type, received->payload.data(), received->payload.size());
        if (!message)
            quit();
        // Descriptors are taken in the order their messages came, even for a message put aside.
        if (auto* memory = std::get_if<FrameMemory>(&*message)) {
            memory->descriptor = m_channel.takeDescriptor();
            if (memory->descriptor < 0)
                quit();
        }
        // A document too big to come inline comes in shared memory beside its message.
        if (auto* load = std::get_if<Load>(&*message); load && load->sharedSize > 0) {
            int memory = m_channel.takeDescriptor();
            auto document = memory < 0 ? std::nullopt : readSharedDocument(memory, load->sharedSize);
            if (memory >= 0)
                ::close(memory);
            if (!document)
                quit();
            load->data = std::move(*document);
        }
        return std::move(*message);
    }

    void handle(AppMessage& message)
    {
        if (auto* viewport = std::get_if<Viewport>(&message))
            m_viewport = *viewport;
        else if (auto* click = std::get_if<Click>(&message))
            answerClick(*click);
        else if (auto* resource = std::get_if<Resource>(&message))
            showPicture(*resource);
        else if (auto* memory = std::get_if<FrameMemory>(&message))
            takeFrameMemory(*memory);
        // One document per renderer: a second one is ignored.
    }

    // The memory lent for the next frame replaces any held before.
    void takeFrameMemory(FrameMemory& memory)
    {
        if (m_frameMemory >= 0)
            ::close(m_frameMemory);
        m_frameMemory = std::exchange(memory.descriptor, -1);
    }

    // Memory to draw the next frame in: held, put aside while waiting for something else, or
    // waited for; the app lends it again once it has taken the last frame.
    void awaitFrameMemory()
    {
        if (m_frameMemory >= 0)
            return;
        for (auto waiting = m_deferred.begin(); waiting != m_deferred.end(); ++waiting) {
            if (auto* memory = std::get_if<FrameMemory>(&*waiting)) {
                takeFrameMemory(*memory);
                m_deferred.erase(waiting);
                return;
            }
        }
        armWorkTimer(false);
        for (;;) {
            auto message = receive();
            if (auto* memory = std::get_if<FrameMemory>(&message)) {
                takeFrameMemory(*memory);
                armWorkTimer(true);
                return;
            }
            m_deferred.push_back(std::move(message));
        }
    }

    std::optional<std::string> loadStyleSheet(const NSURL& url)
    {
        auto wanted = url.absoluteString();
        // The first part and the whole page link the same sheets.
        if (auto known = m_styleSheets.find(wanted); known != m_styleSheets.end())
            return known->second;
        send(Request { wanted });
        armWorkTimer(false);
        for (;;) {
            auto message = receive();
            auto* resource = std::get_if<Resource>(&message);
            if (resource && resource->URL == wanted) {
                armWorkTimer(true);
                std::optional<std::string> sheet;
                if (resource->loaded)
                    sheet = std::string(resource->body.begin(), resource->body.end());
                m_styleSheets[wanted] = sheet;
                return sheet;
            }
            m_deferred.push_back(std::move(message));
        }
    }

    std::unique_ptr<WebPage> parse(std::string markup)
    {
        return WebPage::create(std::move(markup), m_url, [this](const NSURL& sheet) { return loadStyleSheet(sheet); });
    }

    void open(Load& load)
    {
        m_viewport = load.viewport;
        m_url = NSURL::URLWithString(load.URL).value_or(NSURL::fileURLWithPath("/"));
        std::string markup;
        switch (load.kind) {
        case DocumentKind::HTML: {
            std::string_view source(reinterpret_cast<const char*>(load.data.data()), std::min(load.data.size(), maximumDocument));
            auto charset = charsetOfContentType(load.contentType);
            markup = boundedHTMLNesting(decodedHTML(source, charset).text);
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
        case DocumentKind::Picture:
            // Shown as itself, at its own size at the top, centred, and no wider than the view;
            // one that can't be read leaves the view empty.
            m_pictureData = std::move(load.data);
            m_isPicture = true;
            makePicture();
            sendFacts(true);
            return;
        case DocumentKind::PDF:
            // Only the pages' sizes are read now; each page is read as it is drawn.
            m_pdf = PdfDocument::open(load.data);
            load.data = {};
            if (!m_pdf) {
                send(Failed { "not a PDF poppler can read" });
                return;
            }
            sendFacts(true);
            return;
        }
        load.data = {};
        // A long page's first screenful shows before the whole is laid out.
        if (auto cut = htmlFirstPartEnd(markup, firstPartBytes); cut != std::string::npos) {
            if ((m_page = parse(markup.substr(0, cut)))) {
                m_page->layout(m_viewport->width);
                sendFacts(false);
                m_whole = std::move(markup);
                return;
            }
        }
        m_whole = std::move(markup);
        openWhole();
    }

    void openWhole()
    {
        auto markup = std::exchange(m_whole, std::nullopt);
        m_page = parse(std::move(*markup));
        markup.reset();
        if (!m_page) {
            send(Failed { "the document could not be parsed" });
            return;
        }
        m_page->layout(m_viewport->width);
        m_pictureWidths = m_page->pictureWidths();
        m_drawn.reset();
        sendFacts(true);
    }

    // The picture made for the viewport's pixels, no wider than it is shown; made again for
    // more of them, never for fewer.
    void makePicture()
    {
        m_pictureScale = std::max(m_pictureScale, m_viewport->scale);
        m_pictureWidth = std::max(m_pictureWidth, m_viewport->width);
        auto made = webPictureWithData(m_pictureData, m_pictureScale, m_url, m_pictureWidth);
        if (made && (!m_picture || made->pixelWidth() > m_picture->pixelWidth()))
            m_picture = std::move(made);
    }

    // Where the picture is drawn at the width: centred, shrunk to fit.
    CGRect picturePlace(double width) const
    {
        auto size = m_picture->size();
        auto shrink = size.width > width ? width / size.width : 1;
        auto shown = CGSizeMake(size.width * shrink, size.height * shrink);
        return CGRectMake((width - shown.width) / 2, 0, shown.width, shown.height);
    }

    double contentHeight() const
    {
        double height = 0;
        if (m_picture)
            height = picturePlace(m_viewport->width).size.height;
        else if (m_page)
            height = m_page->height();
        else if (m_pdf)
            height = m_pdf->height(m_viewport->width);
        return std::min(maximumPageHeight, std::max(0.0, height));
    }

    // A page may draw beyond its width on the right; a PDF's pages and a picture fit it.
    double contentWidth() const
    {
        double width = m_viewport->width;
        if (m_page)
            width = std::max(width, double(m_page->width()));
        return std::min(maximumPageWidth, width);
    }

    void sendFacts(bool complete)
    {
        PageInfo info;
        info.complete = complete;
        info.height = contentHeight();
        if (m_page)
            info.title = m_page->title().substr(0, maximumText);
        if (complete && m_page) {
            auto references = m_page->references();
            info.base = references.base;
            auto fits = [](const std::string& text) { return text.size() <= maximumURL; };
            if (info.base && !fits(*info.base))
                info.base.reset();
            for (auto& resource : references.resources) {
                if (info.resources.size() < maximumListed && fits(resource))
                    info.resources.push_back(resource);
            }
            for (auto& [text, href] : references.links) {
                if (info.links.size() < maximumListed && fits(href))
                    info.links.emplace_back(text.substr(0, maximumText), href);
            }
            for (auto& picture : m_page->pictureURLs()) {
                if (info.pictures.size() < maximumListed && fits(picture.absoluteString()))
                    info.pictures.push_back(picture.absoluteString());
            }
        }
        send(info);
    }

    void showPicture(const Resource& resource)
    {
        // Drawn again for each, so that the app knows when its pictures are in.
        m_pictures = true;
        if (!m_page || !resource.loaded)
            return;
        auto url = NSURL::URLWithString(resource.URL);
        if (!url)
            return;
        // A picture that can't be read leaves its place empty. One is kept no larger than it is
        // laid out, or than the page is wide.
        auto drawn = m_pictureWidths.find(url->absoluteString());
        auto width = drawn == m_pictureWidths.end() ? m_viewport->width : drawn->second;
        if (auto picture = webPictureWithData(resource.body, m_viewport->scale, std::nullopt, width))
            m_page->setPicture(*url, std::move(picture));
    }

    void answerClick(const Click& click)
    {
        LinkAt answer { click.serial, std::nullopt, std::nullopt };
        if (m_page && m_viewport) {
            m_page->layout(m_viewport->width);
            if (auto url = m_page->linkAt({ click.x, click.y }); url && url->absoluteString().size() <= maximumURL) {
                answer.URL = url->absoluteString();
                if (auto fragment = url->fragment()) {
                    if (auto top = m_page->anchorTop(*fragment))
                        answer.anchorTop = std::clamp(double(*top), 0.0, maximumPageHeight);
                }
            }
            // A click that opened or closed a <details> shows the page again, before the answer
            // that ends the click.
            if (m_page->needsLayout()) {
                m_pictures = true;
                drawIfNeeded();
            }
        }
        send(answer);
    }

    void drawIfNeeded()
    {
        if ((!m_page && !m_isPicture && !m_pdf) || !m_viewport || (m_drawn == m_viewport && !m_pictures))
            return;
        auto viewport = *m_viewport;
        if (m_isPicture && (viewport.scale > m_pictureScale + 0.01 || viewport.width > m_pictureWidth + 0.5))
            makePicture();
        if (m_page)
            m_page->layout(viewport.width);
        auto frame = frameFor(viewport);
        frame.contentHeight = contentHeight();
        frame.contentWidth = contentWidth();
        auto size = frameBytes(frame);
        if (!size)
            return;
        // Memory lent for another size is followed by the viewport it is for.
        awaitFrameMemory();
        struct stat facts { };
        if (::fstat(m_frameMemory, &facts) != 0 || facts.st_size != static_cast<off_t>(*size))
            return;
        auto* pixels = static_cast<unsigned char*>(::mmap(nullptr, *size, PROT_READ | PROT_WRITE, MAP_SHARED, m_frameMemory, 0));
        if (pixels == MAP_FAILED)
            quit();
        auto* surface = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, static_cast<int>(frame.pixelWidth), static_cast<int>(frame.pixelHeight),
            static_cast<int>(frame.stride));
        auto* cr = cairo_create(surface);
        cairo_scale(cr, frame.pixelWidth / viewport.width, frame.pixelHeight / viewport.height);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_translate(cr, -viewport.left, -viewport.top);
        auto shown = CGRectMake(viewport.left, viewport.top, viewport.width, viewport.height);
        if (m_page) {
            m_page->draw(cr, shown);
        } else if (m_pdf) {
            m_pdf->draw(cr, shown);
        } else if (m_picture) {
            auto place = picturePlace(viewport.width);
            auto* pixels = m_picture->surface();
            cairo_translate(cr, place.origin.x, place.origin.y);
            cairo_scale(cr, place.size.width / cairo_image_surface_get_width(pixels), place.size.height / cairo_image_surface_get_height(pixels));
            cairo_set_source_surface(cr, pixels, 0, 0);
            cairo_paint(cr);
        }
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        cairo_surface_destroy(surface);
        ::munmap(pixels, *size);
        // Handed back with the frame, and not touched again until lent anew.
        send(frame, m_frameMemory);
        ::close(std::exchange(m_frameMemory, -1));
        m_drawn = viewport;
        m_pictures = false;
    }

    Channel m_channel;
    std::deque<AppMessage> m_deferred;
    NSURL m_url = NSURL::fileURLWithPath("/");
    std::unique_ptr<WebPage> m_page;
    std::unique_ptr<PdfDocument> m_pdf;
    std::optional<std::string> m_whole;
    std::map<std::string, std::optional<std::string>> m_styleSheets;
    std::map<std::string, CGFloat> m_pictureWidths;
    bool m_isPicture = false;
    Bytes m_pictureData;
    std::shared_ptr<UIImage> m_picture;
    double m_pictureScale = 0;
    double m_pictureWidth = 0;
    std::optional<Viewport> m_viewport;
    std::optional<Viewport> m_drawn;
    bool m_pictures = false;
    int m_frameMemory = -1;
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
    if (!vesk::renderer::sanitizedBuild) {
        // Sanitizers reserve terabytes of shadow; their builds are held to it by the app alone.
        rlimit limit { memoryLimit, memoryLimit };
        ::setrlimit(RLIMIT_AS, &limit);
    }
    auto started = std::chrono::steady_clock::now();
    if (!firstLoadIsPDF())
        warmUp();
    if (std::getenv("VESK_RENDERER_VERBOSE"))
        std::fprintf(stderr, "vesk-renderer: warmed up in %.1f ms\n", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    Renderer().run();
}
