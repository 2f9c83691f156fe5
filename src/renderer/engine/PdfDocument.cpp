#include "renderer/engine/PdfDocument.h"

#include <poppler.h>

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    constexpr CGFloat pageGap = 8;

    // A page is at least a point on each side, whatever its box says.
    CGFloat sane(double length)
    {
        return std::isfinite(length) ? std::max(1.0, length) : 1.0;
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

void PdfDocument::draw(cairo_t* cr, CGRect visible)
{
    auto width = visible.size.width;
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
        auto* page = poppler_document_get_page(m_poppler->document, static_cast<int>(index));
        if (!page)
            continue;
        cairo_save(cr);
        cairo_rectangle(cr, place.origin.x, place.origin.y, place.size.width, place.size.height);
        cairo_clip(cr);
        cairo_translate(cr, place.origin.x, place.origin.y);
        cairo_scale(cr, place.size.width / m_sizes[index].width, place.size.height / m_sizes[index].height);
        poppler_page_render(page, cr);
        cairo_restore(cr);
        g_object_unref(page);
    }
    cairo_restore(cr);
}

}
