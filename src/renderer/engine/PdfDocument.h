#pragma once

#include "platform/graphics/CGGeometry.h"

#include <cairo.h>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace vesk::platform {

// A PDF document read by poppler, its pages stacked down the width on grey, each with a gap
// around it and a faint edge. A page is drawn only when a part of it is asked for, and kept as
// pixels while the parts asked for show it. Used from one thread at a time.
class PdfDocument {
public:
    // Null when poppler cannot read the bytes as a PDF.
    static std::unique_ptr<PdfDocument> open(const std::vector<std::uint8_t>& data);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    std::size_t pageCount() const { return m_sizes.size(); }
    // The pages stacked at the width, gaps included.
    CGFloat height(CGFloat width) const;
    // Where the page lies at the width.
    CGRect pagePlace(std::size_t index, CGFloat width) const;
    // Draws the part in the rectangle, the document laid out at the rectangle's width, in
    // document coordinates.
    void draw(cairo_t* cr, CGRect visible);

    struct Poppler;

private:
    PdfDocument() = default;
    struct PageImage {
        int pixelWidth = 0;
        std::shared_ptr<cairo_surface_t> pixels;
    };
    std::shared_ptr<cairo_surface_t> pagePixels(std::size_t index, int pixelWidth, int pixelHeight);
    void renderPage(cairo_t* cr, std::size_t index, CGRect place);

    std::unique_ptr<Poppler> m_poppler;
    std::vector<CGSize> m_sizes;
    // Before each page, the sum of the heights per width of the pages above it.
    std::vector<double> m_above;
    // The pages of the last part drawn, by index.
    std::map<std::size_t, PageImage> m_drawn;
};

}
