#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/DrawingSupport.h"
#include "renderer/protocol/RendererProtocol.h"
#include "platform/uikit/TextBlock.h"
#include "platform/uikit/UIViewRendering.h"
#include "platform/uikit/UIWebView.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <poppler.h>

namespace vesk::platform {

namespace {

    constexpr CGFloat pageGap = 8;
    constexpr CGFloat textMargin = 8;
    struct PageImage {
        int pixelWidth = 0;
        std::shared_ptr<UIImage> image;
    };

    // What a web view shows of its last page, made once per page.
    struct WebContent {
        enum class Kind {
            Nothing,
            Text,
            Page,
            PDF,
        };
        std::weak_ptr<UIView> view;
        const void* data = nullptr;
        std::size_t size = 0;
        Kind kind = Kind::Nothing;
        std::string source;
        TextBlock text;
        std::uint64_t renderedPage = 0;
        std::shared_ptr<PopplerDocument> pdf;
        std::vector<CGSize> pageSizes;
        std::map<int, PageImage> pages;
        CGPoint offset {};
        CGFloat height = 0;
    };

    std::map<const UIWebView*, WebContent>& contents()
    {
        static auto* map = new std::map<const UIWebView*, WebContent>;
        return *map;
    }

    bool startsWith(const Bytes& data, std::string_view prefix)
    {
        return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin(), [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
    }

    void openDocument(UIWebView& view, WebContent& content)
    {
        auto& data = view.documentData();
        auto mime = view.response() ? view.response()->MIMEType : std::string();
        content.kind = WebContent::Kind::Nothing;
        content.offset = {};
        if (view.showsRenderedPage()) {
            content.kind = WebContent::Kind::Page;
            return;
        }
        if (data.empty())
            return;
        if (mime == "application/pdf" || startsWith(data, "%PDF-")) {
            auto* bytes = g_bytes_new(data.data(), data.size());
            GError* error = nullptr;
            auto* document = poppler_document_new_from_bytes(bytes, nullptr, &error);
            g_bytes_unref(bytes);
            if (error)
                g_error_free(error);
            if (!document)
                return;
            content.pdf.reset(document, g_object_unref);
            int count = poppler_document_get_n_pages(document);
            for (int index = 0; index < count; ++index) {
                double width = 0, height = 0;
                if (auto* page = poppler_document_get_page(document, index)) {
                    poppler_page_get_size(page, &width, &height);
                    g_object_unref(page);
                }
                content.pageSizes.push_back({ std::max(1.0, width), std::max(1.0, height) });
            }
            content.kind = WebContent::Kind::PDF;
        } else if (mime.starts_with("text/")) {
            content.source.assign(data.begin(), data.end());
            content.kind = WebContent::Kind::Text;
        }
    }

    WebContent& contentOf(UIWebView& view)
    {
        auto& map = contents();
        static std::size_t pruneAt = 8;
        if (map.size() > pruneAt) {
            std::erase_if(map, [](auto& entry) { return entry.second.view.expired(); });
            pruneAt = std::max<std::size_t>(8, map.size() * 2);
        }
        auto& content = map[&view];
        auto& data = view.documentData();
        if (content.view.lock().get() != &view || content.data != data.data() || content.size != data.size() || content.renderedPage != view.renderedPageID()) {
            // A page shown before its load finished stays where it was scrolled to.
            bool samePage = content.kind == WebContent::Kind::Page && content.view.lock().get() == &view && content.renderedPage == view.renderedPageID();
            auto offset = samePage ? content.offset : CGPoint {};
            content = WebContent {};
            content.view = view.weak_from_this();
            content.data = data.data();
            content.size = data.size();
            content.renderedPage = view.renderedPageID();
            openDocument(view, content);
            content.offset = offset;
        }
        return content;
    }

    // Lays the content out at the view's width: its height, and for a PDF each page's place. A
    // page is laid out by its renderer, which tells its height with its pixels.
    void layout(UIWebView& view, WebContent& content, CGFloat width)
    {
        switch (content.kind) {
        case WebContent::Kind::Nothing:
            content.height = 0;
            break;
        case WebContent::Kind::Text:
            content.text.update(content.source, 1, UIFont::systemFontOfSize(16), std::max(1.0, width - 2 * textMargin));
            content.height = content.text.height() + 2 * textMargin;
            break;
        case WebContent::Kind::Page:
            content.height = view.renderedHeight();
            break;
        case WebContent::Kind::PDF: {
            CGFloat y = pageGap;
            for (auto& page : content.pageSizes)
                y += page.height * (width - 2 * pageGap) / page.width + pageGap;
            content.height = y;
            break;
        }
        }
    }

    std::shared_ptr<UIImage> renderPage(PopplerDocument* document, int index, CGSize size, int pixelWidth)
    {
        // A page of freak proportions is drawn no taller than a picture may be, and blurred.
        constexpr double tallest = 8192;
        auto height = pixelWidth * size.height / size.width;
        if (height > tallest) {
            pixelWidth = std::max(1, static_cast<int>(pixelWidth * tallest / height));
            height = tallest;
        }
        auto pixelHeight = std::max(1, static_cast<int>(std::lround(height)));
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return nullptr;
        }
        auto* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        if (auto* page = poppler_document_get_page(document, index)) {
            cairo_scale(cr, pixelWidth / size.width, pixelHeight / size.height);
            poppler_page_render(page, cr);
            g_object_unref(page);
        }
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        auto image = std::make_shared<UIImage>(surface, 1);
        cairo_surface_destroy(surface);
        return image;
    }

    void drawPages(cairo_t* cr, WebContent& content, CGFloat width, CGFloat top, CGFloat bottom)
    {
        double pixel = 1, unused = 0;
        cairo_user_to_device_distance(cr, &pixel, &unused);
        auto pageWidth = width - 2 * pageGap;
        auto pixelWidth = std::max(1, static_cast<int>(std::lround(pageWidth * std::abs(pixel))));
        std::map<int, PageImage> shown;
        CGFloat y = pageGap;
        for (std::size_t index = 0; index < content.pageSizes.size() && y < bottom; ++index) {
            auto size = content.pageSizes[index];
            auto height = size.height * pageWidth / size.width;
            auto place = CGRectMake(pageGap, y, pageWidth, height);
            y += height + pageGap;
            if (CGRectGetMaxY(place) <= top)
                continue;
            // Pages are drawn once at the window's pixel size and kept while in view.
            int key = static_cast<int>(index);
            auto& page = content.pages[key];
            if (!page.image || page.pixelWidth != pixelWidth)
                page = { pixelWidth, renderPage(content.pdf.get(), key, size, pixelWidth) };
            drawing::fillRect(cr, place.insetBy(-0.5, -0.5), UIColor(0, 0, 0, 0.25));
            if (page.image)
                drawing::drawImage(cr, *page.image, place);
            shown[key] = page;
        }
        content.pages = std::move(shown);
    }

}

void UIWebView::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    auto* cr = context->cairo();
    auto& content = contentOf(*this);
    layout(*this, content, rect.size.width);
    content.offset.y = std::clamp(content.offset.y, 0.0, std::max(0.0, content.height - rect.size.height));
    bool pdf = content.kind == WebContent::Kind::PDF;
    drawing::fillRect(cr, rect, pdf ? UIColor(0.6, 0.6, 0.6, 1) : UIColor(1, 1, 1, 1));
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, rect.size.width, rect.size.height);
    cairo_clip(cr);
    cairo_translate(cr, 0, -content.offset.y);
    auto top = content.offset.y, bottom = content.offset.y + rect.size.height;
    switch (content.kind) {
    case WebContent::Kind::Nothing:
        break;
    case WebContent::Kind::Text:
        cairo_translate(cr, textMargin, content.offset.y);
        content.text.draw(cr, top - textMargin, bottom - textMargin, UIColor(0, 0, 0, 1));
        break;
    case WebContent::Kind::Page: {
        // The newest pixels there are, wherever they were drawn; new ones come when they are.
        double pixel = 1, unused = 0;
        cairo_user_to_device_distance(cr, &pixel, &unused);
        auto scale = std::abs(pixel);
        auto& shown = renderedPixels();
        bool covered = shown && shown->place.size.width == rect.size.width && shown->scale == scale && shown->place.origin.y <= top
            && CGRectGetMaxY(shown->place) >= std::min(bottom, content.height);
        if (!covered) {
            // Half a screen above and below as well, so that a short scroll has its pixels.
            auto above = std::floor(std::max(0.0, top - rect.size.height / 2));
            auto tallest = std::max(rect.size.height, renderer::maximumFramePixels / scale);
            requestPixels(rect.size.width, std::min(rect.size.height * 2, tallest), scale, above);
        }
        if (auto& pixels = renderedPixels())
            drawing::drawImage(cr, *pixels->image, pixels->place);
        break;
    }
    case WebContent::Kind::PDF:
        drawPages(cr, content, rect.size.width, top, bottom);
        break;
    }
    cairo_restore(cr);
    // A load that finishes brings another page.
    std::weak_ptr<UIView> weak = weak_from_this();
    drawing::watch([weak] {
        auto view = std::static_pointer_cast<UIWebView>(weak.lock());
        return view ? drawing::combine(drawing::combine(std::hash<const void*> {}(view->documentData().data()), view->documentData().size()), view->pageRevision()) : 0;
    });
}

bool drawing::tapWebView(UIWebView& view, CGPoint point)
{
    auto& content = contentOf(view);
    if (content.kind != WebContent::Kind::Page)
        return false;
    // The renderer answers where it leads; the link is followed then.
    view.clickAt({ point.x, point.y + content.offset.y });
    return true;
}

void drawing::scrollWebViewTo(UIWebView& view, CGFloat y)
{
    auto& content = contentOf(view);
    layout(view, content, view.frame().size.width);
    content.offset.y = std::clamp(y, 0.0, std::max(0.0, content.height - view.frame().size.height));
    markNeedsDisplay();
}

bool drawing::scrollWebView(UIWebView& view, CGFloat, CGFloat dy)
{
    auto& content = contentOf(view);
    layout(view, content, view.frame().size.width);
    auto y = std::clamp(content.offset.y + dy, 0.0, std::max(0.0, content.height - view.frame().size.height));
    if (y == content.offset.y)
        return false;
    content.offset.y = y;
    markNeedsDisplay();
    return true;
}

}
