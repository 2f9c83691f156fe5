#pragma once

#include "platform/foundation/TextBuffer.h"
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

// Plain text of any length wrapped at a width, laid out a block of lines at a time (see
// TextBuffer): only the blocks that come into view are measured, the others are estimated, so
// a text of a gigabyte opens and scrolls without being laid out whole. Positions are in the
// block's own coordinates, its first line at the top.
class TextBlock {
public:
    TextBlock();
    ~TextBlock();
    TextBlock(TextBlock&&) noexcept;
    TextBlock& operator=(TextBlock&&) noexcept;

    // Takes the text when it, the font or the width changed; the blocks before the first
    // change keep their measured heights.
    void update(std::shared_ptr<const TextBuffer> text, const std::shared_ptr<UIFont>& font, CGFloat width);
    // The same for a text of ours, taken again when its generation or size changed.
    void update(const std::string& text, std::uint64_t generation, const std::shared_ptr<UIFont>& font, CGFloat width);
    CGFloat height() const { return m_total; }

    // Measures the blocks in [top, bottom) and in a band of the same height above it, so that
    // scrolling up finds them measured. Answers how far what was at `top` moved down, as
    // blocks above it took their measured heights, so a scrolled view can follow it.
    CGFloat settle(CGFloat top, CGFloat bottom);
    // Draws the lines that reach into [top, bottom), `top` at the context's y = 0.
    void draw(cairo_t* cr, CGFloat top, CGFloat bottom, const UIColor& color);
    // The caret's place at the byte offset, and the offset nearest a point.
    CGRect caretRect(std::size_t offset);
    std::size_t offsetAtPoint(CGPoint point);
    // The offset one character before or after.
    std::size_t step(std::size_t offset, bool forward) const;
    // Byte ranges [start, end) of the text, in order, drawn as links: tinted and underlined.
    void setLinks(std::vector<std::pair<std::size_t, std::size_t>> ranges, const UIColor& tint);

private:
    struct Laid;
    // The block's layout, made (and the block measured) when it is not at hand.
    Laid& laid(std::size_t index);
    void setHeight(std::size_t index, CGFloat height);
    CGFloat estimate(std::size_t index) const;
    // Where the block starts, and the block at a height.
    CGFloat topOf(std::size_t index) const;
    std::size_t blockAt(CGFloat y) const;

    std::shared_ptr<const TextBuffer> m_text;
    std::uint64_t m_generation = 0;
    std::string m_fontName;
    CGFloat m_fontSize = 0;
    std::shared_ptr<UIFont> m_font;
    // The font's, asked once: each asking lays out a line.
    CGFloat m_lineHeight = 14;
    CGFloat m_width = -1;
    std::vector<float> m_heights;
    std::vector<bool> m_measured;
    // Sums of the heights (a Fenwick tree, 1-based), for the top of any block in log time.
    std::vector<double> m_sums;
    double m_total = 0;
    std::vector<Laid> m_laid;
    std::uint64_t m_uses = 0;
    std::vector<std::pair<std::size_t, std::size_t>> m_links;
    UIColor m_linkTint { 0, 0, 0, 1 };
};

}
