#include "platform/uikit/TextBlock.h"

#include "platform/graphics/TextLayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vesk::platform {

namespace {

    // A line longer than this is laid out in pieces: pango would take seconds over one
    // paragraph of megabytes.
    constexpr std::size_t longestPiece = 4096;

    bool startsCharacter(const std::string& text, std::size_t at)
    {
        return at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
    }

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

}

void TextBlock::split(std::size_t from, std::size_t to, std::vector<Paragraph>& into) const
{
    std::size_t start = from;
    while (true) {
        const void* found = std::memchr(m_text.data() + start, '\n', to - start);
        std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - m_text.data()) : to;
        while (end - start > longestPiece) {
            // Cut after a space near the limit, else at a character's start.
            std::size_t cut = start + longestPiece;
            auto space = m_text.rfind(' ', cut);
            if (space != std::string::npos && space > start + longestPiece / 2)
                cut = space + 1;
            while (!startsCharacter(m_text, cut))
                --cut;
            into.push_back({ start, cut - start, 0, false });
            start = cut;
        }
        into.push_back({ start, end - start, 0, false });
        if (!found)
            return;
        start = end + 1;
    }
}

void TextBlock::update(const std::string& text, std::uint64_t generation, const std::shared_ptr<UIFont>& font, CGFloat width)
{
    if (!font)
        return;
    bool sameLayout = m_font && m_fontName == font->fontName() && m_fontSize == font->pointSize() && m_font->isBold() == font->isBold() && width == m_width;
    if (sameLayout && generation == m_generation && text.size() == m_sourceSize && !m_paragraphs.empty())
        return;
    m_sourceSize = text.size();
    auto oldText = std::move(m_text);
    auto old = std::move(m_paragraphs);
    m_text = sanitizedText(text);
    m_paragraphs.clear();
    if (!sameLayout || old.empty() || m_text.size() != text.size()) {
        split(0, m_text.size(), m_paragraphs);
    } else {
        // Paragraphs wholly before the first change, or wholly after the last one with the
        // line break before them, keep their heights.
        std::size_t limit = std::min(m_text.size(), oldText.size()), prefix = 0, suffix = 0;
        while (prefix < limit && m_text[prefix] == oldText[prefix])
            ++prefix;
        while (suffix < limit - prefix && m_text[m_text.size() - 1 - suffix] == oldText[oldText.size() - 1 - suffix])
            ++suffix;
        // A piece of a long line ends where the text up to the limit says: it is kept only
        // when all of that stayed.
        auto keptBefore = [&](const Paragraph& paragraph) {
            auto end = paragraph.start + paragraph.length;
            return end + 1 <= prefix && (oldText[end] == '\n' || paragraph.start + longestPiece < prefix);
        };
        std::size_t head = 0;
        while (head < old.size() && keptBefore(old[head]))
            ++head;
        std::size_t tail = old.size();
        auto keptAfter = [&](const Paragraph& paragraph) {
            return paragraph.start > 0 && oldText[paragraph.start - 1] == '\n' && paragraph.start - 1 >= oldText.size() - suffix;
        };
        while (tail > head + 1 && keptAfter(old[tail - 1]))
            --tail;
        auto shift = static_cast<std::ptrdiff_t>(m_text.size()) - static_cast<std::ptrdiff_t>(oldText.size());
        auto moved = [&](std::size_t at) { return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(at) + shift); };
        m_paragraphs.assign(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(std::min(head, old.size())));
        std::size_t from = head < old.size() ? old[head].start : m_text.size();
        split(from, tail < old.size() ? moved(old[tail].start) - 1 : m_text.size(), m_paragraphs);
        for (std::size_t index = tail; index < old.size(); ++index) {
            m_paragraphs.push_back(old[index]);
            m_paragraphs.back().start = moved(old[index].start);
        }
    }
    m_generation = generation;
    m_font = font;
    m_fontName = font->fontName();
    m_fontSize = font->pointSize();
    m_width = width;
    for (auto& paragraph : m_paragraphs) {
        if (!paragraph.measured)
            paragraph.height = estimate(paragraph);
    }
    sumHeights();
}

CGFloat TextBlock::estimate(const Paragraph& paragraph) const
{
    auto lineHeight = m_font ? m_font->lineHeight() : 14;
    auto perLine = std::max(1.0, m_width / std::max(1.0, m_fontSize * 0.5));
    return lineHeight * std::max(1.0, std::ceil(paragraph.length / perLine));
}

void TextBlock::sumHeights()
{
    m_tops.assign(m_paragraphs.size() + 1, 0);
    for (std::size_t index = 0; index < m_paragraphs.size(); ++index)
        m_tops[index + 1] = m_tops[index] + m_paragraphs[index].height;
}

PangoLayout* TextBlock::layoutOf(cairo_t* cr, std::size_t index) const
{
    auto& paragraph = m_paragraphs[index];
    // An empty line still has a line's height.
    auto* layout = createTextLayout(cr, m_text.substr(paragraph.start, paragraph.length), *m_font);
    pango_layout_set_width(layout, static_cast<int>(std::max(1.0, m_width) * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    auto start = paragraph.start, end = paragraph.start + paragraph.length;
    auto link = std::upper_bound(m_links.begin(), m_links.end(), start, [](std::size_t at, const auto& range) { return at < range.second; });
    if (link != m_links.end() && link->first < end) {
        auto* attributes = pango_attr_list_new();
        auto channel = [](CGFloat value) { return static_cast<guint16>(std::lround(std::clamp(value, 0.0, 1.0) * 65535)); };
        for (; link != m_links.end() && link->first < end; ++link) {
            auto from = static_cast<guint>(std::max(link->first, start) - start);
            auto to = static_cast<guint>(std::min(link->second, end) - start);
            for (auto* attribute : { pango_attr_foreground_new(channel(m_linkTint.red()), channel(m_linkTint.green()), channel(m_linkTint.blue())), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE) }) {
                attribute->start_index = from;
                attribute->end_index = to;
                pango_attr_list_insert(attributes, attribute);
            }
        }
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    return layout;
}

void TextBlock::setLinks(std::vector<std::pair<std::size_t, std::size_t>> ranges, const UIColor& tint)
{
    m_links = std::move(ranges);
    m_linkTint = tint;
}

void TextBlock::measure(std::size_t index)
{
    auto& paragraph = m_paragraphs[index];
    if (paragraph.measured || !m_font)
        return;
    auto* layout = layoutOf(scratchContext(), index);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    paragraph.height = std::max<CGFloat>(m_font->lineHeight(), CGFloat(logical.height) / PANGO_SCALE);
    paragraph.measured = true;
}

std::size_t TextBlock::paragraphAt(CGFloat y) const
{
    if (m_paragraphs.empty())
        return 0;
    auto it = std::upper_bound(m_tops.begin() + 1, m_tops.end(), y);
    return std::min(static_cast<std::size_t>(it - m_tops.begin()) - 1, m_paragraphs.size() - 1);
}

void TextBlock::settle(CGFloat top, CGFloat bottom)
{
    // Measuring changes the heights above the band too; a few rounds settle it.
    for (int round = 0; round < 4 && !m_paragraphs.empty(); ++round) {
        bool changed = false;
        for (auto index = paragraphAt(top); index < m_paragraphs.size() && m_tops[index] < bottom; ++index) {
            if (!m_paragraphs[index].measured) {
                measure(index);
                changed = true;
                m_tops[index + 1] = m_tops[index] + m_paragraphs[index].height;
            }
        }
        if (!changed)
            return;
        sumHeights();
    }
}

void TextBlock::draw(cairo_t* cr, CGFloat top, CGFloat bottom, const UIColor& color)
{
    if (!m_font || m_paragraphs.empty())
        return;
    settle(top, bottom);
    cairo_save(cr);
    cairo_set_source_rgba(cr, color.red(), color.green(), color.blue(), color.alpha());
    for (auto index = paragraphAt(top); index < m_paragraphs.size() && m_tops[index] < bottom; ++index) {
        if (m_paragraphs[index].length == 0)
            continue;
        auto* layout = layoutOf(cr, index);
        cairo_move_to(cr, 0, m_tops[index]);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
    }
    cairo_restore(cr);
}

std::size_t TextBlock::paragraphOfOffset(std::size_t offset) const
{
    auto it = std::upper_bound(m_paragraphs.begin(), m_paragraphs.end(), offset, [](std::size_t at, const Paragraph& paragraph) { return at < paragraph.start; });
    return it == m_paragraphs.begin() ? 0 : static_cast<std::size_t>(it - m_paragraphs.begin()) - 1;
}

CGRect TextBlock::caretRect(std::size_t offset)
{
    auto lineHeight = m_font ? m_font->lineHeight() : 14;
    if (m_paragraphs.empty() || !m_font)
        return CGRectMake(0, 0, 2, lineHeight);
    auto index = paragraphOfOffset(std::min(offset, m_text.size()));
    measure(index);
    sumHeights();
    auto& paragraph = m_paragraphs[index];
    auto* layout = layoutOf(scratchContext(), index);
    PangoRectangle strong;
    auto inside = std::min(offset - paragraph.start, paragraph.length);
    pango_layout_get_cursor_pos(layout, static_cast<int>(inside), &strong, nullptr);
    g_object_unref(layout);
    return CGRectMake(std::min<CGFloat>(CGFloat(strong.x) / PANGO_SCALE, std::max(0.0, m_width - 2)), m_tops[index] + CGFloat(strong.y) / PANGO_SCALE, 2,
        std::max<CGFloat>(lineHeight, CGFloat(strong.height) / PANGO_SCALE));
}

std::size_t TextBlock::offsetAtPoint(CGPoint point)
{
    if (m_paragraphs.empty() || !m_font)
        return 0;
    if (point.y < 0)
        return 0;
    if (point.y >= height())
        return m_text.size();
    auto index = paragraphAt(point.y);
    measure(index);
    sumHeights();
    index = paragraphAt(point.y);
    measure(index);
    auto& paragraph = m_paragraphs[index];
    auto* layout = layoutOf(scratchContext(), index);
    int inside = 0, trailing = 0;
    pango_layout_xy_to_index(layout, static_cast<int>(point.x * PANGO_SCALE), static_cast<int>((point.y - m_tops[index]) * PANGO_SCALE), &inside, &trailing);
    g_object_unref(layout);
    auto offset = paragraph.start + std::min<std::size_t>(static_cast<std::size_t>(std::max(0, inside)), paragraph.length);
    for (; trailing > 0 && offset < paragraph.start + paragraph.length; --trailing)
        offset = step(offset, true);
    return offset;
}

std::size_t TextBlock::step(std::size_t offset, bool forward) const
{
    offset = std::min(offset, m_text.size());
    if (forward) {
        if (offset >= m_text.size())
            return offset;
        do
            ++offset;
        while (!startsCharacter(m_text, offset));
        return offset;
    }
    if (offset == 0)
        return 0;
    do
        --offset;
    while (offset > 0 && !startsCharacter(m_text, offset));
    return offset;
}

}
