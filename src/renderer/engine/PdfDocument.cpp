#include "renderer/engine/PdfDocument.h"

#include <poppler.h>

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    constexpr CGFloat pageGap = 8;
    // A page taller or larger than this in pixels is drawn straight into the part shown, never
    // kept: the few pages of one part stay within a fraction of the renderer's memory.
    constexpr double tallestKept = 8192;
    constexpr double largestKept = 16 << 20;

    // A page is at least a point and at most a million points on each side, whatever its box
    // says, so that the pages' heights add up to a finite height.
    CGFloat sane(double length)
    {
        return std::isfinite(length) ? std::clamp(length, 1.0, 1e6) : 1.0;
    }

    CGFloat pageWidthAt(CGFloat width)
    {
        return std::max(1.0, width - 2 * pageGap);
    }

}

struct PdfDocument::Poppler {
    PopplerDocument* document = nullptr;
    ~Poppler()
    {
        if (document)
            g_object_unref(document);
    }
};

std::unique_ptr<PdfDocument> PdfDocument::open(const std::vector<std::uint8_t>& data)
{
    if (data.empty())
        return nullptr;
    auto* bytes = g_bytes_new(data.data(), data.size());
    GError* error = nullptr;
    auto* document = poppler_document_new_from_bytes(bytes, nullptr, &error);
    g_bytes_unref(bytes);
    if (error)
        g_error_free(error);
    if (!document)
        return nullptr;
    std::unique_ptr<PdfDocument> pdf(new PdfDocument);
    pdf->m_poppler = std::make_unique<Poppler>();
    pdf->m_poppler->document = document;
    int count = poppler_document_get_n_pages(document);
    double above = 0;
    for (int index = 0; index < count; ++index) {
        double width = 0, height = 0;
        if (auto* page = poppler_document_get_page(document, index)) {
            poppler_page_get_size(page, &width, &height);
            g_object_unref(page);
        }
        CGSize size { sane(width), sane(height) };
        pdf->m_sizes.push_back(size);
        pdf->m_above.push_back(above);
        above += size.height / size.width;
    }
    pdf->m_above.push_back(above);
    return pdf;
}

PdfDocument::~PdfDocument() = default;

CGFloat PdfDocument::height(CGFloat width) const
{
    return pageGap + m_above.back() * pageWidthAt(width) + pageGap * double(m_sizes.size());
}

CGRect PdfDocument::pagePlace(std::size_t index, CGFloat width) const
{
    auto pageWidth = pageWidthAt(width);
    auto top = pageGap * double(index + 1) + m_above[index] * pageWidth;
    return CGRectMake(pageGap, top, pageWidth, m_sizes[index].height * pageWidth / m_sizes[index].width);
}

void PdfDocument::renderPage(cairo_t* cr, std::size_t index, CGRect place)
{
    auto* page = poppler_document_get_page(m_poppler->document, static_cast<int>(index));
    if (!page)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, place.origin.x, place.origin.y, place.size.width, place.size.height);
    cairo_clip(cr);
    cairo_translate(cr, place.origin.x, place.origin.y);
    cairo_scale(cr, place.size.width / m_sizes[index].width, place.size.height / m_sizes[index].height);
    poppler_page_render(page, cr);
    cairo_restore(cr);
    g_object_unref(page);
}

std::shared_ptr<cairo_surface_t> PdfDocument::pagePixels(std::size_t index, int pixelWidth, int pixelHeight)
{
    std::shared_ptr<cairo_surface_t> pixels(cairo_image_surface_create(CAIRO_FORMAT_RGB24, pixelWidth, pixelHeight), cairo_surface_destroy);
    if (cairo_surface_status(pixels.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    auto* cr = cairo_create(pixels.get());
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    renderPage(cr, index, CGRectMake(0, 0, pixelWidth, pixelHeight));
    cairo_destroy(cr);
    cairo_surface_flush(pixels.get());
    return pixels;
}

void PdfDocument::draw(cairo_t* cr, CGRect visible)
{
    auto width = visible.size.width;
    double scale = 1, unused = 0;
    cairo_user_to_device_distance(cr, &scale, &unused);
    scale = std::abs(scale);
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_rectangle(cr, visible.origin.x, visible.origin.y, visible.size.width, visible.size.height);
    cairo_fill(cr);
    auto top = visible.origin.y, bottom = CGRectGetMaxY(visible);
    // The first page that reaches into view: the places grow down the list.
    std::size_t first = 0, past = m_sizes.size();
    while (first < past) {
        auto middle = first + (past - first) / 2;
        if (CGRectGetMaxY(pagePlace(middle, width)) <= top)
            first = middle + 1;
        else
            past = middle;
    }
    std::map<std::size_t, PageImage> shown;
    for (auto index = first; index < m_sizes.size(); ++index) {
        auto place = pagePlace(index, width);
        if (place.origin.y >= bottom)
            break;
        auto edge = place.insetBy(-0.5, -0.5);
        cairo_set_source_rgba(cr, 0, 0, 0, 0.25);
        cairo_rectangle(cr, edge.origin.x, edge.origin.y, edge.size.width, edge.size.height);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, place.origin.x, place.origin.y, place.size.width, place.size.height);
        cairo_fill(cr);
        // Kept at the pixels it is shown at, so that the next part, which overlaps this one as
        // the view scrolls, draws it without poppler.
        auto pixelWidth = std::max(1, static_cast<int>(std::lround(place.size.width * scale)));
        auto pixelHeight = place.size.height * scale;
        if (pixelHeight > tallestKept || pixelWidth * pixelHeight > largestKept) {
            renderPage(cr, index, place);
            continue;
        }
        PageImage image;
        if (auto kept = m_drawn.find(index); kept != m_drawn.end() && kept->second.pixelWidth == pixelWidth)
            image = kept->second;
        else
            image = { pixelWidth, pagePixels(index, pixelWidth, std::max(1, static_cast<int>(std::lround(pixelHeight)))) };
        if (!image.pixels) {
            renderPage(cr, index, place);
            continue;
        }
        cairo_save(cr);
        cairo_rectangle(cr, place.origin.x, place.origin.y, place.size.width, place.size.height);
        cairo_clip(cr);
        cairo_translate(cr, place.origin.x, place.origin.y);
        cairo_scale(cr, place.size.width / cairo_image_surface_get_width(image.pixels.get()), place.size.height / cairo_image_surface_get_height(image.pixels.get()));
        cairo_set_source_surface(cr, image.pixels.get(), 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        shown[index] = std::move(image);
    }
    m_drawn = std::move(shown);
    cairo_restore(cr);
}

}
