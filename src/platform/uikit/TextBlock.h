#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIFont.h"

#include <cairo.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _PangoLayout PangoLayout;

namespace vesk::platform {

// Plain text of any length wrapped at a width, laid out a paragraph at a time: only the
// paragraphs that come into view are measured, the others are estimated, so a text of many
// megabytes scrolls and takes typing without being laid out whole. Positions are in the
// block's own coordinates, its first line at the top.
class TextBlock {
public:
    // Takes the text when its generation, the font or the width changed; what stayed the same
    // at the start and the end of the text keeps its measured heights.
    void update(const std::string& text, std::uint64_t generation, const std::shared_ptr<UIFont>& font, CGFloat width);
    CGFloat height() const { return m_tops.empty() ? 0 : m_tops.back(); }

    // Draws the paragraphs that reach into [top, bottom), measuring them first.
    void draw(cairo_t* cr, CGFloat top, CGFloat bottom, const UIColor& color);
    // The caret's place at the byte offset, and the offset nearest a point.
    CGRect caretRect(std::size_t offset);
    std::size_t offsetAtPoint(CGPoint point);
    // The offset one character before or after.
    std::size_t step(std::size_t offset, bool forward) const;
    // Byte ranges [start, end) of the text, in order, drawn as links: tinted and underlined.
    void setLinks(std::vector<std::pair<std::size_t, std::size_t>> ranges, const UIColor& tint);

private:
    struct Paragraph {
        std::size_t start = 0;
        std::size_t length = 0;
        CGFloat height = 0;
        bool measured = false;
    };
    void split(std::size_t from, std::size_t to, std::vector<Paragraph>& into) const;
    CGFloat estimate(const Paragraph& paragraph) const;
    void measure(std::size_t index);
    void sumHeights();
    // The first paragraph that ends below y.
    std::size_t paragraphAt(CGFloat y) const;
    // Measures the paragraphs in [top, bottom) until their heights hold.
    void settle(CGFloat top, CGFloat bottom);
    std::size_t paragraphOfOffset(std::size_t offset) const;
    PangoLayout* layoutOf(cairo_t* cr, std::size_t index) const;

    // The text as drawn (valid UTF-8), and the size of the text it was made from.
    std::string m_text;
    std::size_t m_sourceSize = 0;
    std::uint64_t m_generation = 0;
    std::string m_fontName;
    CGFloat m_fontSize = 0;
    std::shared_ptr<UIFont> m_font;
    CGFloat m_width = -1;
    std::vector<Paragraph> m_paragraphs;
    // Where each paragraph starts, then where the last ends.
    std::vector<CGFloat> m_tops;
    std::vector<std::pair<std::size_t, std::size_t>> m_links;
    UIColor m_linkTint { 0, 0, 0, 1 };
};

}
