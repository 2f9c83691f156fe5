#include "platform/uikit/TextBlock.h"

#include "platform/graphics/TextLayout.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace vesk::platform {

namespace {

    // The layouts kept for drawing: enough for the blocks of three screens.
    constexpr std::size_t keptLayouts = 32;

    struct LayoutUnref {
        void operator()(PangoLayout* layout) const { g_object_unref(layout); }
    };

    struct Scratch {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        cairo_t* cr = cairo_create(surface);
        ~Scratch()
        {
            cairo_destroy(cr);
            cairo_surface_destroy(surface);
        }
    };

    cairo_t* scratchContext()
    {
        static thread_local Scratch scratch;
        return scratch.cr;
    }

    bool startsCharacter(std::string_view text, std::size_t at)
    {
        return at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
    }

    using Runs = std::vector<std::pair<std::size_t, std::size_t>>;

    // The drawn text has one U+FFFD for each NUL byte or invalid sequence (sanitizedText):
    // after each such run, its offsets in the text and in the drawn text.
    Runs replacedRuns(std::string_view text)
    {
        Runs runs;
        const char* start = text.data();
        const char* p = start;
        const char* end = p + text.size();
        std::size_t drawn = 0;
        while (p < end) {
            const char* stop = nullptr;
            g_utf8_validate(p, end - p, &stop);
            drawn += static_cast<std::size_t>(stop - p);
            p = stop;
            if (p == end)
                break;
            ++p;
            while (p < end && (static_cast<unsigned char>(*p) & 0xC0) == 0x80)
                ++p;
            drawn += 3;
            runs.emplace_back(static_cast<std::size_t>(p - start), drawn);
        }
        return runs;
    }

    // From one side's offset to the other's: the first of each pair, or the second.
    template<bool toDrawn>
    std::size_t mapped(const Runs& runs, std::size_t offset)
    {
        auto from = [](const std::pair<std::size_t, std::size_t>& run) { return toDrawn ? run.first : run.second; };
        auto to = [](const std::pair<std::size_t, std::size_t>& run) { return toDrawn ? run.second : run.first; };
        auto it = std::upper_bound(runs.begin(), runs.end(), offset, [&](std::size_t at, const auto& run) { return at < from(run); });
        if (it == runs.begin())
            return offset;
        --it;
        return to(*it) + (offset - from(*it));
    }

    std::size_t commonPrefix(std::string_view a, std::string_view b)
    {
        std::size_t limit = std::min(a.size(), b.size()), at = 0;
        constexpr std::size_t stride = 4096;
        while (at + stride <= limit && std::memcmp(a.data() + at, b.data() + at, stride) == 0)
            at += stride;
        while (at < limit && a[at] == b[at])
            ++at;
        return at;
    }

    const std::shared_ptr<const TextBuffer>& emptyText()
    {
        static const auto empty = std::make_shared<const TextBuffer>(std::string());
        return empty;
    }

}

struct TextBlock::Laid {
    std::size_t block = 0;
    std::unique_ptr<PangoLayout, LayoutUnref> layout;
    Runs runs;
    std::uint64_t used = 0;
};

TextBlock::TextBlock() = default;
TextBlock::~TextBlock() = default;
TextBlock::TextBlock(TextBlock&&) noexcept = default;
TextBlock& TextBlock::operator=(TextBlock&&) noexcept = default;

void TextBlock::update(const std::string& text, std::uint64_t generation, const std::shared_ptr<UIFont>& font, CGFloat width)
{
    auto buffer = m_text;
    if (!buffer || generation != m_generation || text.size() != buffer->size())
        buffer = std::make_shared<const TextBuffer>(text);
    update(std::move(buffer), font, width);
    m_generation = generation;
}

void TextBlock::update(std::shared_ptr<const TextBuffer> text, const std::shared_ptr<UIFont>& font, CGFloat width)
{
    if (!font)
        return;
    if (!text)
        text = emptyText();
    bool sameLayout = m_font && m_fontName == font->fontName() && m_fontSize == font->pointSize() && m_font->isBold() == font->isBold() && width == m_width;
    if (sameLayout && text == m_text)
        return;
    auto old = std::move(m_text);
    auto oldHeights = std::move(m_heights);
    auto oldMeasured = std::move(m_measured);
    m_text = std::move(text);
    m_font = font;
    m_fontName = font->fontName();
    m_fontSize = font->pointSize();
    m_lineHeight = font->lineHeight();
    m_width = width;
    m_laid.clear();
    auto count = m_text->blockCount();
    m_heights.assign(count, 0);
    m_measured.assign(count, false);
    std::size_t kept = 0;
    if (sameLayout && old) {
        // A block's cut depends on the text up to a piece past its end: blocks that far
        // before the first change are the same blocks.
        auto prefix = commonPrefix(old->text(), m_text->text());
        auto limit = std::min({ count, old->blockCount(), oldHeights.size() });
        while (kept < limit && old->blockStart(kept + 1) + TextBuffer::longestPiece + 1 <= prefix && old->blockStart(kept) == m_text->blockStart(kept)) {
            m_heights[kept] = oldHeights[kept];
            m_measured[kept] = oldMeasured[kept];
            ++kept;
        }
    }
    for (auto index = kept; index < count; ++index)
        m_heights[index] = static_cast<float>(estimate(index));
    m_sums.assign(count + 1, 0);
    m_total = 0;
    for (std::size_t at = 1; at <= count; ++at) {
        m_sums[at] += m_heights[at - 1];
        m_total += m_heights[at - 1];
        if (auto up = at + (at & -at); up <= count)
            m_sums[up] += m_sums[at];
    }
}

CGFloat TextBlock::estimate(std::size_t index) const
{
    auto lineHeight = m_lineHeight;
    auto perLine = std::max(1.0, m_width / std::max(1.0, m_fontSize * 0.5));
    auto lines = static_cast<CGFloat>(m_text->blockLineCount(index));
    auto bytes = static_cast<CGFloat>(m_text->blockStart(index + 1) - m_text->blockStart(index));
    // A line takes whole rows: on average half a row more than its share of the width.
    return lineHeight * std::max(lines, std::round(bytes / perLine + lines / 2));
}

void TextBlock::setHeight(std::size_t index, CGFloat height)
{
    double change = static_cast<float>(height) - m_heights[index];
    m_heights[index] = static_cast<float>(height);
    m_total += change;
    for (auto at = index + 1; at < m_sums.size(); at += at & -at)
        m_sums[at] += change;
}

CGFloat TextBlock::topOf(std::size_t index) const
{
    double top = 0;
    for (auto at = std::min(index, m_heights.size()); at > 0; at -= at & -at)
        top += m_sums[at];
    return top;
}

std::size_t TextBlock::blockAt(CGFloat y) const
{
    auto count = m_heights.size();
    if (count == 0)
        return 0;
    std::size_t found = 0;
    double rest = y;
    for (auto step = std::bit_floor(count); step > 0; step >>= 1) {
        if (found + step <= count && m_sums[found + step] <= rest) {
            found += step;
            rest -= m_sums[found];
        }
    }
    return std::min(found, count - 1);
}

TextBlock::Laid& TextBlock::laid(std::size_t index)
{
    for (auto& entry : m_laid) {
        if (entry.block == index) {
            entry.used = ++m_uses;
            return entry;
        }
    }
    if (m_laid.size() >= keptLayouts) {
        auto oldest = std::min_element(m_laid.begin(), m_laid.end(), [](const Laid& a, const Laid& b) { return a.used < b.used; });
        m_laid.erase(oldest);
    }
    auto text = m_text->blockText(index);
    Laid entry;
    entry.block = index;
    entry.used = ++m_uses;
    entry.runs = replacedRuns(text);
    // An empty line still has a line's height.
    entry.layout.reset(createTextLayout(scratchContext(), std::string(text), *m_font));
    auto* layout = entry.layout.get();
    pango_layout_set_width(layout, static_cast<int>(std::max(1.0, m_width) * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    auto start = m_text->blockStart(index), end = start + text.size();
    auto link = std::upper_bound(m_links.begin(), m_links.end(), start, [](std::size_t at, const auto& range) { return at < range.second; });
    if (link != m_links.end() && link->first < end) {
        auto* existing = pango_layout_get_attributes(layout);
        auto* attributes = existing ? pango_attr_list_copy(existing) : pango_attr_list_new();
        auto channel = [](CGFloat value) { return static_cast<guint16>(std::lround(std::clamp(value, 0.0, 1.0) * 65535)); };
        for (; link != m_links.end() && link->first < end; ++link) {
            auto from = static_cast<guint>(mapped<true>(entry.runs, std::max(link->first, start) - start));
            auto to = static_cast<guint>(mapped<true>(entry.runs, std::min(link->second, end) - start));
            for (auto* attribute : { pango_attr_foreground_new(channel(m_linkTint.red()), channel(m_linkTint.green()), channel(m_linkTint.blue())), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE) }) {
                attribute->start_index = from;
                attribute->end_index = to;
                pango_attr_list_insert(attributes, attribute);
            }
        }
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    if (!m_measured[index]) {
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        setHeight(index, std::max<CGFloat>(m_lineHeight, CGFloat(logical.height) / PANGO_SCALE));
        m_measured[index] = true;
    }
    m_laid.push_back(std::move(entry));
    return m_laid.back();
}

void TextBlock::setLinks(std::vector<std::pair<std::size_t, std::size_t>> ranges, const UIColor& tint)
{
    m_links = std::move(ranges);
    m_linkTint = tint;
    m_laid.clear();
}

CGFloat TextBlock::settle(CGFloat top, CGFloat bottom)
{
    if (!m_font || m_heights.empty())
        return 0;
    auto band = std::max(0.0, bottom - top);
    auto anchor = blockAt(top);
    auto anchorTop = topOf(anchor);
    for (auto index = blockAt(top - band); index < m_heights.size() && topOf(index) < bottom; ++index) {
        if (!m_measured[index])
            laid(index);
    }
    return topOf(anchor) - anchorTop;
}

void TextBlock::draw(cairo_t* cr, CGFloat top, CGFloat bottom, const UIColor& color)
{
    if (!m_font || m_heights.empty())
        return;
    cairo_save(cr);
    cairo_set_source_rgba(cr, color.red(), color.green(), color.blue(), color.alpha());
    for (auto index = blockAt(top); index < m_heights.size(); ++index) {
        auto y = topOf(index);
        if (y >= bottom)
            break;
        if (m_text->blockText(index).empty()) {
            laid(index);
            continue;
        }
        auto* layout = laid(index).layout.get();
        // Positions near the band, never the text's own: cairo's coordinates end at 2^23.
        cairo_move_to(cr, 0, y - top);
        pango_cairo_show_layout(cr, layout);
    }
    cairo_restore(cr);
}

CGRect TextBlock::caretRect(std::size_t offset)
{
    auto lineHeight = m_lineHeight;
    if (m_heights.empty() || !m_font)
        return CGRectMake(0, 0, 2, lineHeight);
    offset = std::min(offset, m_text->size());
    auto index = m_text->blockOfOffset(offset);
    auto& entry = laid(index);
    auto inside = std::min(offset - m_text->blockStart(index), m_text->blockText(index).size());
    PangoRectangle strong;
    pango_layout_get_cursor_pos(entry.layout.get(), static_cast<int>(mapped<true>(entry.runs, inside)), &strong, nullptr);
    return CGRectMake(std::min<CGFloat>(CGFloat(strong.x) / PANGO_SCALE, std::max(0.0, m_width - 2)), topOf(index) + CGFloat(strong.y) / PANGO_SCALE, 2,
        std::max<CGFloat>(lineHeight, CGFloat(strong.height) / PANGO_SCALE));
}

std::size_t TextBlock::offsetAtPoint(CGPoint point)
{
    if (m_heights.empty() || !m_font)
        return 0;
    if (point.y < 0)
        return 0;
    if (point.y >= height())
        return m_text->size();
    // Measuring the block may move the ones after it: the block under the point is asked again.
    laid(blockAt(point.y));
    auto index = blockAt(point.y);
    auto& entry = laid(index);
    int inside = 0, trailing = 0;
    pango_layout_xy_to_index(entry.layout.get(), static_cast<int>(point.x * PANGO_SCALE), static_cast<int>((point.y - topOf(index)) * PANGO_SCALE), &inside, &trailing);
    auto start = m_text->blockStart(index);
    auto length = m_text->blockText(index).size();
    auto offset = start + std::min(mapped<false>(entry.runs, static_cast<std::size_t>(std::max(0, inside))), length);
    for (; trailing > 0 && offset < start + length; --trailing)
        offset = step(offset, true);
    return offset;
}

std::size_t TextBlock::step(std::size_t offset, bool forward) const
{
    auto text = m_text ? m_text->text() : std::string_view();
    offset = std::min(offset, text.size());
    if (forward) {
        if (offset >= text.size())
            return offset;
        do
            ++offset;
        while (!startsCharacter(text, offset));
        return offset;
    }
    if (offset == 0)
        return 0;
    do
        --offset;
    while (offset > 0 && !startsCharacter(text, offset));
    return offset;
}

}
