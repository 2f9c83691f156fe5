#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/TextBlock.h"
#include "platform/uikit/UIViewRendering.h"
#include "platform/uikit/UIWebView.h"
#include "renderer/protocol/RendererProtocol.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

// What a web view shows of its last page, made once per page.
struct UIWebView::DrawnContent {
    enum class Kind {
        Nothing,
        Text,
        Page,
    };
    std::weak_ptr<UIView> view;
    const void* data = nullptr;
    std::size_t size = 0;
    Kind kind = Kind::Nothing;
    std::string source;
    TextBlock text;
    std::uint64_t renderedPage = 0;
    CGPoint offset {};
    CGFloat height = 0;
    CGFloat width = 0;
};

UIWebView::DrawnContent& UIWebView::drawnContent()
{
    if (!m_drawnContent)
        m_drawnContent = std::make_shared<DrawnContent>();
    return *m_drawnContent;
}

namespace {

    constexpr CGFloat textMargin = 8;

    using WebContent = UIWebView::DrawnContent;

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
        if (mime.starts_with("text/")) {
            content.source.assign(data.begin(), data.end());
            content.kind = WebContent::Kind::Text;
        }
    }

    WebContent& contentOf(UIWebView& view)
    {
        auto& content = view.drawnContent();
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

    // Lays the content out at the view's width. A page (a PDF's too) is laid out by its
    // renderer, which tells its height and how far it reaches right with its pixels.
    void layout(UIWebView& view, WebContent& content, CGFloat width)
    {
        content.width = width;
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
            content.width = std::max(width, view.renderedWidth());
            break;
        }
    }

    // Where the content may be scrolled to in a view of the size.
    CGPoint clampedOffset(const WebContent& content, CGPoint offset, CGSize size)
    {
        return { std::clamp(offset.x, 0.0, std::max(0.0, content.width - size.width)), std::clamp(offset.y, 0.0, std::max(0.0, content.height - size.height)) };
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
    content.offset = clampedOffset(content, content.offset, rect.size);
    drawing::fillRect(cr, rect, UIColor(1, 1, 1, 1));
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, rect.size.width, rect.size.height);
    cairo_clip(cr);
    cairo_translate(cr, -content.offset.x, -content.offset.y);
    auto top = content.offset.y, bottom = content.offset.y + rect.size.height, left = content.offset.x;
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
        bool covered = shown && shown->place.size.width == rect.size.width && shown->place.origin.x == left && shown->scale == scale
            && shown->place.origin.y <= top && CGRectGetMaxY(shown->place) >= std::min(bottom, content.height);
        if (!covered) {
            // Half a screen above and below as well, so that a short scroll has its pixels.
            auto above = std::floor(std::max(0.0, top - rect.size.height / 2));
            auto tallest = std::max(rect.size.height, renderer::maximumFramePixels / scale);
            requestPixels(rect.size.width, std::min(rect.size.height * 2, tallest), scale, above, left);
        }
        if (auto& pixels = renderedPixels())
            drawing::drawImage(cr, *pixels->image, pixels->place);
        break;
    }
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
    view.clickAt({ point.x + content.offset.x, point.y + content.offset.y });
    return true;
}

void drawing::scrollWebViewTo(UIWebView& view, CGFloat y)
{
    auto& content = contentOf(view);
    layout(view, content, view.frame().size.width);
    content.offset = clampedOffset(content, { content.offset.x, y }, view.frame().size);
    markNeedsDisplay();
}

bool drawing::scrollWebView(UIWebView& view, CGFloat dx, CGFloat dy)
{
    auto& content = contentOf(view);
    layout(view, content, view.frame().size.width);
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return false;
    auto offset = clampedOffset(content, { content.offset.x + dx, content.offset.y + dy }, view.frame().size);
    if (offset == content.offset)
        return false;
    content.offset = offset;
    markNeedsDisplay();
    return true;
}

}
