#include "renderer/engine/ElementKinds.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <litehtml/el_anchor.h>
#include <litehtml/el_body.h>
#include <litehtml/el_break.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_para.h>
#include <litehtml/el_space.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_text.h>
#include <litehtml/el_tr.h>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace vesk::platform {

namespace {

    // Each child's place among the children, text left out as the engine leaves it out, and
    // among those of its tag; kept until the children change. (Only text is ever left out: an
    // element a page styles as text, which the engine cannot lay out, counts as it did at first.)
    class SiblingPlaces {
    public:
        struct Place {
            std::size_t slot = 0;
            int index = 0;
            int ofType = 0;
            int typeCount = 0;
        };

        const Place* find(const litehtml::elements_vector& children, const litehtml::element* child)
        {
            if (m_size == children.size()) {
                if (auto found = m_places.find(child); found != m_places.end() && children[found->second.slot].get() == child)
                    return &found->second;
            }
            rebuild(children);
            auto found = m_places.find(child);
            return found == m_places.end() ? nullptr : &found->second;
        }
        int count() const { return m_count; }

    private:
        void rebuild(const litehtml::elements_vector& children)
        {
            m_places.clear();
            m_count = 0;
            std::unordered_map<std::string, int> ofType;
            for (std::size_t slot = 0; slot < children.size(); ++slot) {
                auto& child = children[slot];
                if (child->get_display() == litehtml::display_inline_text)
                    continue;
                auto* tag = child->get_tagName();
                m_places[child.get()] = Place { slot, ++m_count, ++ofType[tag ? tag : ""], 0 };
            }
            for (auto& [child, place] : m_places) {
                auto* tag = child->get_tagName();
                place.typeCount = ofType[tag ? tag : ""];
            }
            m_size = children.size();
        }

        std::size_t m_size = std::numeric_limits<std::size_t>::max();
        int m_count = 0;
        std::unordered_map<const litehtml::element*, Place> m_places;
    };

    // Whether a place counted from 1 is the an+b the selector asks for, as the engine reads it.
    bool matches(int index, int num, int off)
    {
        if (num != 0)
            return index - off >= 0 && (index - off) % num == 0;
        return index == off;
    }

    // Where a child stands among its parent's children, found without counting them.
    class ChildSlots {
    public:
        virtual std::optional<std::size_t> slotOf(const litehtml::element* child) const = 0;
        // Its place among its parent's children of its tag, counted from 1; 0 if it is not one.
        virtual int placeOfType(const litehtml::element* child) const = 0;

    protected:
        ~ChildSlots() = default;
    };

    // How much a block's top margin grew in its last layout by taking in its first child's,
    // when the two margins collapse.
    class TakenMargin {
    public:
        virtual int takenTopMargin() const = 0;

    protected:
        ~TakenMargin() = default;
    };

    // How a flex container lays its items out, as far as the engine's boxes can: a row as
    // inline blocks on lines, a column as blocks.
    enum class FlexLayout {
        None,
        Row,
        Column,
    };

    // Rows in rows are laid out as rows this deep at most, and deeper as columns: each row's
    // items are inline blocks, which the engine lays out twice each.
    constexpr int maximumFlexRowNesting = 6;

    FlexLayout flexLayoutOf(const litehtml::element& element)
    {
        auto display = std::string_view(element.get_style_property("display", false, ""));
        if (display != "flex" && display != "inline-flex")
            return FlexLayout::None;
        auto direction = std::string_view(element.get_style_property("flex-direction", false, "row"));
        return direction.starts_with("column") ? FlexLayout::Column : FlexLayout::Row;
    }

    // How a flex container lays its items out, its rows within the rows around it bounded.
    FlexLayout boundedFlexLayoutOf(const litehtml::element& element)
    {
        auto layout = flexLayoutOf(element);
        if (layout != FlexLayout::Row)
            return layout;
        int rows = 1;
        for (auto ancestor = element.parent(); ancestor; ancestor = ancestor->parent()) {
            if (flexLayoutOf(*ancestor) == FlexLayout::Row && ++rows > maximumFlexRowNesting)
                return FlexLayout::Column;
        }
        return layout;
    }

    // What a table's row group was styled as. The engine takes only plain row groups for the
    // table's own: it wraps a header or a footer group in a row group, then that in a table of
    // its own, whose cells were drawn on top of each other above the table. Such groups are
    // laid out as row groups, the table putting them in their places.
    class RowGroup {
    public:
        virtual litehtml::style_display groupDisplay() const = 0;

    protected:
        ~RowGroup() = default;
    };

    // Browsers draw text whose font is the generic monospace family alone at 13 pixels where
    // other text is 16: a size the page left to the browser (medium, or a multiple of it in em
    // or percent) is a multiple of 13 in that family. What an element's children need to know.
    class FontBase {
    public:
        // Whether the element's font family is "monospace" alone.
        virtual bool monospaceOnly() const = 0;
        // The element's font size as a multiple of the browser's medium size; 0 where the page
        // gave it in pixels, points or another fixed unit.
        virtual double mediumMultiple() const = 0;

    protected:
        ~FontBase() = default;
    };

    bool isGenericMonospace(std::string_view family)
    {
        while (!family.empty() && (family.front() == ' ' || family.front() == '\t'))
            family.remove_prefix(1);
        while (!family.empty() && (family.back() == ' ' || family.back() == '\t'))
            family.remove_suffix(1);
        return family.size() == 9 && std::equal(family.begin(), family.end(), "monospace", [](char a, char b) { return (a | 0x20) == b; });
    }

    // A font size as a multiple of medium, from the size property and the parent's multiple;
    // 0 for a fixed size or one this doesn't follow (the other keywords, smaller, larger).
    double mediumMultipleOf(const char* size, double parentMultiple)
    {
        if (!size || !*size || std::strcmp(size, "inherit") == 0)
            return parentMultiple;
        if (std::strcmp(size, "medium") == 0)
            return 1;
        std::string_view text(size);
        double value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || value < 0)
            return 0;
        std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
        if (unit == "em")
            return parentMultiple * value;
        if (unit == "%")
            return parentMultiple * value / 100;
        return 0;
    }

    // The properties whose custom property references are looked up again once all of an
    // element's rules are in.
    constexpr const char* referencingProperties[] = { "color", "background-color", "border-top-color", "border-right-color", "border-bottom-color",
        "border-left-color", "font-family", "font-size", "font-weight", "font-style", "line-height", "text-align", "text-decoration", "white-space",
        "vertical-align", "display", "width", "height", "min-width", "min-height", "max-width", "max-height", "margin-top", "margin-right", "margin-bottom",
        "margin-left", "padding-top", "padding-right", "padding-bottom", "padding-left", "border-top-width", "border-right-width", "border-bottom-width",
        "border-left-width", "border-top-style", "border-right-style", "border-bottom-style", "border-left-style", "top", "right", "bottom", "left",
        "list-style-type" };

    // Where the value's first reference to a custom property starts (a var(), or one held as
    // vref()), and how long its name is.
    std::pair<std::size_t, std::size_t> firstReference(std::string_view value)
    {
        auto var = value.find("var("), held = value.find("vref(");
        return held < var ? std::pair(held, 5) : std::pair(var, 4);
    }

    // The value with its var() references replaced by the custom properties the element has or
    // inherits (or their fallbacks); absent when one of them has neither, or they refer to each
    // other round in a circle.
    std::optional<std::string> withCustomProperties(std::string value, const litehtml::element& element)
    {
        constexpr int maximumReferences = 32;
        constexpr std::size_t maximumLength = 4096;
        for (int count = 0; count < maximumReferences; ++count) {
            auto [start, length] = firstReference(value);
            if (start == std::string::npos)
                return value;
            std::size_t end = start + length, comma = std::string::npos;
            for (int depth = 1; end < value.size(); ++end) {
                if (value[end] == '(')
                    ++depth;
                else if (value[end] == ')' && --depth == 0)
                    break;
                else if (value[end] == ',' && depth == 1 && comma == std::string::npos)
                    comma = end;
            }
            if (end >= value.size())
                return std::nullopt;
            auto trimmed = [](std::string text) {
                auto first = text.find_first_not_of(" \t\n\r\f");
                auto last = text.find_last_not_of(" \t\n\r\f");
                return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
            };
            auto name = trimmed(value.substr(start + length, (comma == std::string::npos ? end : comma) - start - length));
            std::string replacement;
            if (auto* found = element.get_style_property(name.c_str(), true, nullptr); found && *found)
                replacement = found;
            else if (comma != std::string::npos)
                replacement = trimmed(value.substr(comma + 1, end - comma - 1));
            else
                return std::nullopt;
            value.replace(start, end - start + 1, replacement);
            if (value.size() > maximumLength)
                return std::nullopt;
        }
        return std::nullopt;
    }

    // The engine reads the weights 100 to 700 written as numbers as normal text (only 800 and 900
    // come out bold); 600 and 700 are bold, as the fonts at hand draw them.
    bool isNumericBold(std::string_view value)
    {
        return value == "600" || value == "700";
    }

    // A style attribute with its numeric bold weights written as the keyword.
    std::optional<std::string> withBoldKeywords(std::string_view style)
    {
        std::string out;
        bool changed = false;
        std::size_t copied = 0, from = 0, at;
        while ((at = style.find("font-weight", from)) != std::string_view::npos) {
            from = at + 11;
            auto value = style.find_first_not_of(" \t\n\r\f", from);
            if (value == std::string_view::npos || style[value] != ':')
                continue;
            value = style.find_first_not_of(" \t\n\r\f", value + 1);
            if (value == std::string_view::npos)
                break;
            auto end = std::min(style.find_first_of(" \t\n\r\f;!", value), style.size());
            if (isNumericBold(style.substr(value, end - value))) {
                out.append(style.substr(copied, value - copied)).append("bold");
                copied = end;
                changed = true;
            }
            from = end;
        }
        if (!changed)
            return std::nullopt;
        out.append(style.substr(copied));
        return out;
    }

    // What a block puts on its lines, for where a line may break between two of them: around
    // spaces, Han characters and anything but text, but never between two pieces of text that
    // touch, as a link and the comma or no-break space after it do.
    enum class Piece {
        Other,
        Space,
        Word,
        // A word of Han characters, which lines break around.
        HanWord,
    };

    Piece pieceOf(const litehtml::element::ptr& element)
    {
        if (element->get_display() != litehtml::display_inline_text)
            return Piece::Other;
        if (dynamic_cast<const litehtml::el_space*>(element.get()))
            return Piece::Space;
        litehtml::tstring text;
        element->get_text(text);
        // U+4E00 to U+9FCC, three bytes from E4 B8 80 to E9 BF 8C, as the page's text is split.
        auto lead = text.empty() ? 0u : static_cast<unsigned char>(text.front());
        return lead >= 0xE4 && lead <= 0xE9 ? Piece::HanWord : Piece::Word;
    }

    // Where the child stands among its parent's children. Blocks place their pieces in order,
    // so a parent's children are looked through from where the last one was found.
    std::optional<std::size_t> indexAmongSiblings(const litehtml::element::ptr& child)
    {
        auto parent = child->parent();
        if (!parent)
            return std::nullopt;
        thread_local std::unordered_map<const litehtml::element*, std::size_t> hints;
        if (hints.size() > 4096)
            hints.clear();
        auto count = parent->get_children_count();
        auto& hint = hints[parent.get()];
        for (std::size_t step = 0; step < count; ++step) {
            auto at = (hint + step) % count;
            if (parent->get_child(static_cast<int>(at)) == child) {
                hint = at;
                return at;
            }
        }
        return std::nullopt;
    }

    // The piece after this one on its block's lines: its next sibling, the first piece inside
    // an inline element, or what follows the inline element it ends; none past the block.
    litehtml::element::ptr nextPiece(litehtml::element::ptr piece, const litehtml::element* block)
    {
        constexpr int maximumDepth = 16;
        for (int depth = 0; depth < maximumDepth; ++depth) {
            auto parent = piece->parent();
            auto at = indexAmongSiblings(piece);
            if (!parent || !at)
                return nullptr;
            if (*at + 1 < parent->get_children_count()) {
                auto next = parent->get_child(static_cast<int>(*at + 1));
                for (int inner = 0; inner < maximumDepth && next->get_display() == litehtml::display_inline && next->get_children_count() > 0; ++inner)
                    next = next->get_child(0);
                return next;
            }
            if (parent.get() == block || parent->get_display() != litehtml::display_inline)
                return nullptr;
            piece = parent;
        }
        return nullptr;
    }

    template<class Base>
    class Counted : public Base, public ChildSlots, public TakenMargin, public RowGroup, public FontBase {
    public:
        explicit Counted(const std::shared_ptr<litehtml::document>& document)
            : Base(document)
        {
        }

        // The engine collapses a child's top margin with its parent's or its previous
        // sibling's using the child's own margin, before the child has taken in the margin of
        // its own first child: a heading in a <div> is set down by its margin twice (once as
        // the <div>'s). And an empty block's margins don't collapse through it: each empty
        // <p> (as an HTML parser leaves before a <div> or a table) adds a line's space. Once
        // the children are laid out, each child goes up by what the engine left out, and the
        // ones after it with it.
        int render(int x, int y, int maxWidth, bool secondPass) override
        {
            numberListItem();
            m_lastPiece = Piece::Other;
            // The engine widens a box to its min-width only once its content is laid out, at
            // the narrower width: a body with a min-width wider than its column was drawn that
            // wide with its text squeezed into the column. Laid out at its min-width instead,
            // as if that were its width (which min-width wins over, and over max-width too).
            std::optional<std::pair<litehtml::css_length, litehtml::css_length>> given;
            if (laidOutNarrowerThanMinWidth(maxWidth)) {
                given.emplace(this->m_css_width, this->m_css_max_width);
                this->m_css_width = this->m_css_min_width;
                this->m_css_max_width.predef(0);
            }
            int width = Base::render(x, y, maxWidth, secondPass);
            if (given)
                std::tie(this->m_css_width, this->m_css_max_width) = *given;
            auto& boxes = this->m_boxes;
            int raised = 0;
            for (std::size_t index = 0; index < boxes.size(); ++index) {
                auto& box = *boxes[index];
                if (raised)
                    box.y_shift(-raised);
                int left = std::max(0, collapsedTakenMargin(index));
                box.y_shift(-left);
                int through = std::max(0, collapsedEmptyBlock(index));
                box.y_shift(-through);
                if (left + through == 0)
                    continue;
                raised += left + through;
                litehtml::elements_vector elements;
                box.get_elements(elements);
                if (box.get_type() == litehtml::box_block && !elements.empty() && elements.front())
                    this->update_floats(-(left + through), elements.front());
            }
            int fixed = 0;
            if (raised && !this->get_predefined_height(fixed) && (this->m_css_min_height.is_predefined() || this->m_css_min_height.val() == 0)) {
                this->m_pos.height = std::max(0, this->m_pos.height - raised);
                if (this->is_floats_holder())
                    this->m_pos.height = std::max(this->m_pos.height, this->get_floats_height());
            }
            // The engine gives a box sized by its border the height asked for inside its
            // borders: Node.js' arrows, made of borders, were drawn as blots.
            if (this->m_box_sizing == litehtml::box_sizing_border_box && (this->m_display == litehtml::display_block || this->m_display == litehtml::display_inline_block || this->m_display == litehtml::display_list_item)
                && this->get_predefined_height(fixed) && this->m_pos.height == fixed)
                this->m_pos.height = std::max(0, fixed - this->m_padding.top - this->m_padding.bottom - this->m_borders.top - this->m_borders.bottom);
            alignRowInHeight();
            m_takenTopMargin = 0;
            if (!boxes.empty() && this->collapse_top_margin())
                m_takenTopMargin = std::max(0, this->m_margins.top - this->m_css_margins.top.calc_percent(maxWidth));
            return width;
        }

        // A table's first header group's rows come first and its first footer group's last,
        // wherever they stand among its children, as in a browser.
        void init() override
        {
            if (this->m_display == litehtml::display_table || this->m_display == litehtml::display_inline_table) {
                auto isGroup = [](litehtml::style_display display) {
                    return [display](const litehtml::element::ptr& child) {
                        auto* group = dynamic_cast<const RowGroup*>(child.get());
                        return group && group->groupDisplay() == display;
                    };
                };
                auto& children = this->m_children;
                if (auto header = std::find_if(children.begin(), children.end(), isGroup(litehtml::display_table_header_group)); header != children.end())
                    std::rotate(children.begin(), header, header + 1);
                if (auto footer = std::find_if(children.begin(), children.end(), isGroup(litehtml::display_table_footer_group)); footer != children.end())
                    std::rotate(footer, footer + 1, children.end());
            }
            Base::init();
        }

        int takenTopMargin() const override { return m_takenTopMargin; }
        litehtml::style_display groupDisplay() const override { return m_groupDisplay; }
        bool monospaceOnly() const override { return m_monospaceOnly; }
        double mediumMultiple() const override { return m_mediumMultiple; }

        // Collapsible white space that would start a line takes no room, as CSS removes it
        // there. The engine gives it a line of its own, which goes below the floats beside it
        // when they leave no room for a space: the floats placed after it (Sphinx's sidebar,
        // after its body's wrapper of the whole width) went down with that line. Between a
        // flex container's items it is no item at all.
        //
        // And the engine starts a new line before any piece of text that doesn't fit, even one
        // that touches the text before it: `<a>Prev</a>&nbsp;` took two lines in a narrow cell,
        // and a comma after a link could start a line. Pieces that touch go on one line
        // together, as one word would.
        int place_element(const litehtml::element::ptr& element, int maxWidth) override
        {
            if (element->get_display() == litehtml::display_inline_text && element->is_white_space() && (startsLineBesideFloats(*element, maxWidth) || m_flexLayout != FlexLayout::None)) {
                element->skip(true);
                m_lastPiece = Piece::Space;
                return 0;
            }
            auto display = element->get_display();
            if (display == litehtml::display_inline || display == litehtml::display_none)
                return Base::place_element(element, maxWidth);
            auto piece = pieceOf(element);
            bool touching = piece == Piece::Word && m_lastPiece == Piece::Word;
            m_lastPiece = piece;
            auto wrapping = this->m_white_space;
            if (wrapping == litehtml::white_space_nowrap || wrapping == litehtml::white_space_pre)
                return Base::place_element(element, maxWidth);
            if (!touching) {
                if (piece == Piece::Word)
                    startLineForTouching(element, maxWidth);
                return Base::place_element(element, maxWidth);
            }
            this->m_white_space = litehtml::white_space_nowrap;
            int width = Base::place_element(element, maxWidth);
            this->m_white_space = wrapping;
            return width;
        }

        // The engine looks a rule's custom properties up as it adds the rule, in the order of
        // the rules' specificity: those a more specific rule of the same element sets (`.light
        // { --bg: ... }` beside `html { background: var(--bg) }`) are not in yet, and the
        // reference is left as it is, a colour drawn black. They are looked up again here, once
        // all the rules are in.
        void parse_styles(bool reparse) override
        {
            auto* page = dynamic_cast<const PageChanges*>(this->get_document()->container());
            for (auto* name : page && page->usesCustomProperties() ? std::span(referencingProperties) : std::span<const char* const>()) {
                auto* value = this->m_style.get_property(name);
                if (!value || firstReference(value).first == std::string::npos)
                    continue;
                auto resolved = withCustomProperties(value, *this);
                if (!resolved)
                    continue;
                this->m_style.add_property(name, resolved->c_str(), nullptr, false, this);
                // One the page marked important stays so.
                if (auto* kept = this->m_style.get_property(name); kept && firstReference(kept).first != std::string::npos)
                    this->m_style.add_property(name, resolved->c_str(), nullptr, true, this);
            }
            if (auto* weight = this->m_style.get_property("font-weight"); weight && isNumericBold(weight)) {
                this->m_style.add_property("font-weight", "bold", nullptr, false, this);
                if (auto* kept = this->m_style.get_property("font-weight"); kept && isNumericBold(kept))
                    this->m_style.add_property("font-weight", "bold", nullptr, true, this);
            }
            if (auto* style = this->get_attr("style"); style && std::strstr(style, "font-weight")) {
                if (auto rewritten = withBoldKeywords(style))
                    this->set_attr("style", rewritten->c_str());
            }
            // The children after this element's own size is known, as the engine parses them.
            Base::parse_styles(true);
            if (sizeMonospaceText())
                Base::parse_styles(true);
            m_groupDisplay = this->m_display;
            if (m_groupDisplay == litehtml::display_table_header_group || m_groupDisplay == litehtml::display_table_footer_group)
                this->m_display = litehtml::display_table_row_group;
            m_flexLayout = boundedFlexLayoutOf(*this);
            readLayoutKinds();
            if (isTransparent(*this))
                this->m_visibility = litehtml::visibility_hidden;
            // A position the engine doesn't know it takes for fixed, out of the flow and at the
            // view's corner; "sticky" stays in the flow where it is until scrolled past, as static
            // does.
            if (this->m_el_position == litehtml::element_position_fixed) {
                auto* position = Base::get_style_property("position", false, "static");
                if (litehtml::value_index(position ? position : "", element_position_strings, -1) < 0)
                    this->m_el_position = litehtml::element_position_static;
            }
            if (!reparse) {
                for (auto& child : this->m_children)
                    child->parse_styles(false);
            }
            // Once the ::before and ::after children know their widths.
            fitGeneratedPictures();
        }

        bool is_nth_child(const litehtml::element::ptr& el, int num, int off, bool ofType) const override
        {
            auto* place = m_places.find(this->m_children, el.get());
            return place && matches(ofType ? place->ofType : place->index, num, off);
        }

        bool is_nth_last_child(const litehtml::element::ptr& el, int num, int off, bool ofType) const override
        {
            auto* place = m_places.find(this->m_children, el.get());
            return place && matches(ofType ? place->typeCount - place->ofType + 1 : m_places.count() - place->index + 1, num, off);
        }

        std::optional<std::size_t> slotOf(const litehtml::element* child) const override
        {
            auto* place = m_places.find(this->m_children, child);
            return place ? std::optional(place->slot) : std::nullopt;
        }

        int placeOfType(const litehtml::element* child) const override
        {
            auto* place = m_places.find(this->m_children, child);
            return place ? place->ofType : 0;
        }

    private:
        // A flex item never floats, and is a block of its own: in a column, a block; in a row,
        // an inline block on the row's line, aligned on the cross axis as the container (or
        // the item itself) asks. The row's items wrap where a browser would shrink them, and
        // keep the widths of their content where it would stretch them.
        void asFlexItem()
        {
            auto parent = this->parent();
            // Its parent is read as far as its own styles go (their attribute included): it
            // lays its children out once they are read.
            auto layout = parent ? boundedFlexLayoutOf(*parent) : FlexLayout::None;
            auto position = this->m_el_position;
            if (layout == FlexLayout::None || this->m_display == litehtml::display_none || position == litehtml::element_position_absolute
                || position == litehtml::element_position_fixed)
                return;
            this->m_float = litehtml::float_none;
            auto display = this->m_display;
            if (layout == FlexLayout::Column) {
                if (display == litehtml::display_inline || display == litehtml::display_inline_block)
                    this->m_display = litehtml::display_block;
                return;
            }
            if (display == litehtml::display_inline || display == litehtml::display_block || display == litehtml::display_list_item)
                this->m_display = litehtml::display_inline_block;
            else if (display == litehtml::display_table)
                this->m_display = litehtml::display_inline_table;
            auto align = std::string_view(Base::get_style_property("align-self", false, "auto"));
            if (align == "auto")
                align = parent->get_style_property("align-items", false, "stretch");
            if (align == "center")
                this->m_vertical_align = litehtml::va_middle;
            else if (align == "flex-end" || align == "end")
                this->m_vertical_align = litehtml::va_bottom;
            else if (align == "baseline")
                this->m_vertical_align = litehtml::va_baseline;
            else
                this->m_vertical_align = litehtml::va_top;
        }

        // What the engine doesn't read of how a box lays out. A flex or grid container, which
        // it takes for inline, is a block on its own line (padding and all), or an inline block
        // for the inline kinds; a flex item is laid out as flex lays it out, about (see
        // asFlexItem). And a box that clips on one axis clips on both, as CSS has it
        // (overflow-x: hidden or overflow-y: auto alone): the menu a page keeps off screen then
        // draws none of its content beside it. The root and the body hand theirs to the view.
        void readLayoutKinds()
        {
            auto* display = Base::get_style_property("display", false, "");
            if (this->m_display == litehtml::display_inline && display) {
                std::string_view kind(display);
                if (kind == "flex" || kind == "grid" || kind == "flow-root")
                    this->m_display = litehtml::display_block;
                else if (kind == "inline-flex" || kind == "inline-grid")
                    this->m_display = litehtml::display_inline_block;
            }
            if (m_flexLayout == FlexLayout::Row) {
                auto justify = std::string_view(Base::get_style_property("justify-content", false, ""));
                if (justify == "center")
                    this->m_text_align = litehtml::text_align_center;
                else if (justify == "flex-end" || justify == "end" || justify == "right")
                    this->m_text_align = litehtml::text_align_right;
                else
                    this->m_text_align = litehtml::text_align_left;
            }
            asFlexItem();
            // Only blocks clip: an inline element (a search form the engine took for one) that
            // clipped to its empty box hid its text field and its button.
            if (this->m_display == litehtml::display_inline)
                this->m_overflow = litehtml::overflow_visible;
            if (this->m_overflow != litehtml::overflow_visible || this->m_display == litehtml::display_inline || !this->have_parent() || this->is_body())
                return;
            for (auto* axis : { "overflow-x", "overflow-y" }) {
                auto* value = Base::get_style_property(axis, false, "visible");
                std::string_view clip(value ? value : "");
                int kind = clip == "clip" ? litehtml::overflow_hidden : litehtml::value_index(value ? value : "", overflow_strings, litehtml::overflow_visible);
                if (kind == litehtml::overflow_hidden || kind == litehtml::overflow_scroll || kind == litehtml::overflow_auto) {
                    this->m_overflow = static_cast<litehtml::overflow>(kind);
                    return;
                }
            }
        }

        // A picture that is the content of a ::before or ::after of a set width is drawn within
        // it, as a browser draws an SVG picture that has a view box and no size of its own (a
        // menu's caret 15 pixels wide, which was drawn 300 wide over the text). Pictures
        // smaller than the box keep their size.
        void fitGeneratedPictures()
        {
            auto& children = this->m_children;
            for (auto* child : { children.empty() ? nullptr : children.front().get(), children.size() < 2 ? nullptr : children.back().get() }) {
                auto* tag = child ? child->get_tagName() : nullptr;
                if (!tag || (std::strcmp(tag, "::before") != 0 && std::strcmp(tag, "::after") != 0) || child->get_css_width().is_predefined())
                    continue;
                for (auto index = child->get_children_count(); index > 0; --index) {
                    auto picture = child->get_child(static_cast<int>(index - 1));
                    auto* name = picture->get_tagName();
                    if (!name || std::strcmp(name, "img") != 0)
                        continue;
                    picture->set_attr("style", "display: inline-block; max-width: 100%; max-height: 100%");
                    picture->parse_styles(true);
                }
            }
        }

        // A row's line sits where the container's align-items puts it in a height of its own.
        void alignRowInHeight()
        {
            int fixed = 0;
            if (m_flexLayout != FlexLayout::Row || this->m_boxes.empty() || !this->get_predefined_height(fixed))
                return;
            auto align = std::string_view(Base::get_style_property("align-items", false, "stretch"));
            int room = this->m_pos.height - this->m_boxes.back()->bottom();
            int shift = 0;
            if (align == "center")
                shift = room / 2;
            else if (align == "flex-end" || align == "end")
                shift = room;
            if (shift <= 0)
                return;
            for (auto& box : this->m_boxes)
                box->y_shift(shift);
        }

        // Whether the white space would start a line that floats leave no room on. (Elsewhere
        // the engine's line of it is kept: after a block, a float placed next lays that line
        // out again, where it would lay the block out again without it.)
        bool startsLineBesideFloats(litehtml::element& space, int maxWidth)
        {
            auto& boxes = this->m_boxes;
            int top = 0;
            if (!boxes.empty()) {
                auto& last = *boxes.back();
                if (last.get_type() == litehtml::box_line && !last.is_empty())
                    return false;
                top = last.get_type() == litehtml::box_line ? last.top() : last.bottom();
            }
            int left = 0, right = maxWidth;
            this->get_line_left_right(top, maxWidth, left, right);
            litehtml::size size;
            space.get_content_size(size, maxWidth);
            return right - left < std::max(1, size.width);
        }

        // Whether the engine would lay the box's content out narrower than its min-width: at
        // its width, or at what the containing block leaves it, within its max-width.
        bool laidOutNarrowerThanMinWidth(int maxWidth) const
        {
            auto display = this->m_display;
            if (this->m_css_min_width.is_predefined() || (display != litehtml::display_block && display != litehtml::display_list_item && display != litehtml::display_inline_block))
                return false;
            bool borderBox = this->m_box_sizing == litehtml::box_sizing_border_box;
            auto side = [&](const litehtml::css_length& length) { return length.calc_percent(maxWidth); };
            int frame = side(this->m_css_padding.left) + side(this->m_css_padding.right) + side(this->m_css_borders.left.width) + side(this->m_css_borders.right.width);
            int minimum = side(this->m_css_min_width) - (borderBox ? frame : 0);
            if (minimum <= 0)
                return false;
            int width;
            if (!this->m_css_width.is_predefined())
                width = this->calc_width(maxWidth) - (borderBox ? frame : 0);
            else
                width = maxWidth - frame - side(this->m_css_margins.left) - side(this->m_css_margins.right);
            if (!this->m_css_max_width.is_predefined()) {
                auto maximum = this->m_css_max_width;
                width = std::min(width, this->get_document()->cvt_units(maximum, this->m_font_size, maxWidth) - (borderBox ? frame : 0));
            }
            return minimum > width;
        }

        // A word that fits on the line, where the pieces touching it after it don't, starts the
        // next line with them.
        void startLineForTouching(const litehtml::element::ptr& word, int maxWidth)
        {
            auto& boxes = this->m_boxes;
            if (boxes.empty() || boxes.back()->get_type() != litehtml::box_line || boxes.back()->is_empty())
                return;
            auto& line = *boxes.back();
            int left = 0, right = maxWidth;
            this->get_line_left_right(line.top(), maxWidth, left, right);
            litehtml::size size;
            word->get_content_size(size, maxWidth);
            int end = line.right() + size.width;
            if (end > right)
                return;
            constexpr int maximumTouching = 16;
            auto current = word;
            for (int count = 0; count < maximumTouching && end <= right; ++count) {
                current = nextPiece(current, this);
                if (!current || pieceOf(current) != Piece::Word)
                    return;
                current->get_content_size(size, maxWidth);
                end += size.width;
            }
            if (end <= right)
                return;
            litehtml::line_context context {};
            this->new_box(word, maxWidth, context);
        }

        // The engine sizes all text from 16 pixels: where the monospace family alone starts or
        // ends, a size the browser would choose is given in pixels, from 13 or from 16. Whether
        // it was.
        bool sizeMonospaceText()
        {
            // The root's size is medium; below an element of the engine's own, it is not known.
            auto* parent = dynamic_cast<const FontBase*>(this->parent().get());
            bool parentMonospace = parent && parent->monospaceOnly();
            double parentMultiple = 1;
            if (this->parent())
                parentMultiple = parent ? parent->mediumMultiple() : 0;
            auto* size = this->m_style.get_property("font-size");
            // Sized here before, and parsed again as it is.
            if (size && m_sizedPixels && std::to_string(m_sizedPixels) + "px" == size)
                return false;
            m_sizedPixels = 0;
            auto* family = this->m_style.get_property("font-family");
            m_monospaceOnly = family && std::strcmp(family, "inherit") != 0 ? isGenericMonospace(family) : parentMonospace;
            m_mediumMultiple = mediumMultipleOf(size, parentMultiple);
            bool keyword = size && std::strcmp(size, "medium") == 0;
            if (m_mediumMultiple <= 0 || (m_monospaceOnly == parentMonospace && !(m_monospaceOnly && keyword)))
                return false;
            constexpr double monospaceMedium = 13;
            double medium = m_monospaceOnly ? monospaceMedium : this->get_document()->container()->get_default_font_size();
            m_sizedPixels = std::lround(m_mediumMultiple * medium);
            auto pixels = std::to_string(m_sizedPixels) + "px";
            // Over the style attribute's size too, which the engine reads again.
            this->m_style.add_property("font-size", pixels.c_str(), nullptr, true, this);
            return true;
        }

        // An ordered list's item draws the number the engine reads from its "list_index"
        // attribute, which only the engine's own kind of item sets: the items of every list
        // drew "0.".
        void numberListItem()
        {
            if (this->m_display != litehtml::display_list_item || this->m_list_style_type < litehtml::list_style_type_armenian)
                return;
            auto* tag = this->get_tagName();
            auto parent = this->parent();
            auto* siblings = dynamic_cast<const ChildSlots*>(parent.get());
            if (!tag || std::strcmp(tag, "li") != 0 || !siblings)
                return;
            auto* start = parent->get_attr("start");
            long first = start ? std::clamp(std::strtol(start, nullptr, 10), -1000000000L, 1000000000L) : 1;
            auto index = std::to_string(first + siblings->placeOfType(this) - 1);
            if (auto* current = this->get_attr("list_index"); !current || index != current)
                this->set_attr("list_index", index.c_str());
        }

        static litehtml::element::ptr blockOf(litehtml::box& box)
        {
            if (box.get_type() != litehtml::box_block)
                return nullptr;
            litehtml::elements_vector elements;
            box.get_elements(elements);
            return elements.empty() ? nullptr : elements.front();
        }

        // How far the box goes up for the margin its block took in from its first child:
        // where the collapsed margins put it, against where the engine did.
        int collapsedTakenMargin(std::size_t index)
        {
            auto& boxes = this->m_boxes;
            auto child = blockOf(*boxes[index]);
            auto* taking = dynamic_cast<const TakenMargin*>(child.get());
            int taken = taking ? taking->takenTopMargin() : 0;
            if (taken <= 0)
                return 0;
            int margin = child->margin_top();
            int top;
            if (index > 0)
                top = boxes[index - 1]->bottom() - std::min(std::max(0, boxes[index - 1]->bottom_margin()), margin);
            else if (this->collapse_top_margin())
                top = -margin;
            else
                return 0;
            return std::min(taken, boxes[index]->top() - top);
        }

        // How far the box goes up when the one before it is an empty block between two others:
        // the empty block's margins and those on either side of it make one.
        int collapsedEmptyBlock(std::size_t index)
        {
            auto& boxes = this->m_boxes;
            if (index < 2)
                return 0;
            auto empty = blockOf(*boxes[index - 1]);
            int height = 0;
            if (!empty || empty->get_position().height != 0 || empty->get_predefined_height(height) || !empty->collapse_top_margin() || !empty->collapse_bottom_margin())
                return 0;
            auto& before = *boxes[index - 2];
            int beforeMargin = std::max(0, before.bottom_margin()), ownMargin = std::max(0, boxes[index]->top_margin());
            int gap = std::max({ beforeMargin, empty->margin_top(), empty->margin_bottom(), ownMargin });
            int top = before.bottom() - beforeMargin + gap - ownMargin;
            return std::min(empty->margin_top() + empty->margin_bottom(), boxes[index]->top() - top);
        }

        mutable SiblingPlaces m_places;
        int m_takenTopMargin = 0;
        FlexLayout m_flexLayout = FlexLayout::None;
        litehtml::style_display m_groupDisplay = litehtml::display_inline;
        Piece m_lastPiece = Piece::Other;
        bool m_monospaceOnly = false;
        double m_mediumMultiple = 1;
        long m_sizedPixels = 0;
    };

    // What an element does to the line a break after it ends: puts something on it, ends a
    // line itself (a break, a block), or neither.
    enum class LineEnd {
        Content,
        Ended,
        Nothing,
    };

    LineEnd lineEnd(const litehtml::element::ptr& element)
    {
        switch (element->get_display()) {
        case litehtml::display_none:
            return LineEnd::Nothing;
        case litehtml::display_inline_text:
            return element->is_white_space() ? LineEnd::Nothing : LineEnd::Content;
        case litehtml::display_inline_block:
        case litehtml::display_inline_table:
            return LineEnd::Content;
        case litehtml::display_inline:
            break;
        default:
            if (element->is_break())
                return LineEnd::Ended;
            auto position = element->get_element_position();
            if (element->get_float() != litehtml::float_none || position == litehtml::element_position_absolute || position == litehtml::element_position_fixed)
                return LineEnd::Nothing;
            return LineEnd::Ended;
        }
        if (element->is_replaced())
            return LineEnd::Content;
        // An inline element's last content decides.
        for (auto index = element->get_children_count(); index > 0; --index) {
            if (auto end = lineEnd(element->get_child(static_cast<int>(index - 1))); end != LineEnd::Nothing)
                return end;
        }
        return LineEnd::Nothing;
    }

    // A line break that ends an empty line (after another break, a block or at the start of
    // one) keeps that line as tall as a line of text, as browsers do; the engine lets it fall.
    class Break final : public litehtml::el_break {
    public:
        using el_break::el_break;

        int render(int x, int y, int maxWidth, bool secondPass) override
        {
            int width = el_break::render(x, y, maxWidth, secondPass);
            if (endsEmptyLine())
                m_pos.height = std::max(m_pos.height, line_height());
            return width;
        }

    private:
        bool endsEmptyLine() const
        {
            const litehtml::element* child = this;
            for (auto parent = this->parent(); parent; parent = parent->parent()) {
                auto* slots = dynamic_cast<const ChildSlots*>(parent.get());
                auto slot = slots ? slots->slotOf(child) : std::nullopt;
                if (!slot)
                    return false;
                for (auto at = *slot; at > 0; --at) {
                    if (auto end = lineEnd(parent->get_child(static_cast<int>(at - 1))); end != LineEnd::Nothing)
                        return end == LineEnd::Ended;
                }
                // At the start of a block the line is empty; an inline parent's place decides.
                if (parent->get_display() != litehtml::display_inline)
                    return true;
                child = parent.get();
            }
            return true;
        }
    };

    bool isText(const litehtml::element::ptr& element)
    {
        return dynamic_cast<const litehtml::el_text*>(element.get()) != nullptr;
    }

    bool hasTag(const litehtml::element::ptr& element, std::string_view tag)
    {
        auto* name = element ? element->get_tagName() : nullptr;
        return name && tag == name;
    }

    // A <details>: closed (without its open attribute), it shows its first <summary> alone,
    // whatever the page's styles say of the rest; a click on that summary opens and closes it.
    class Details final : public Counted<litehtml::html_tag> {
    public:
        using Counted::Counted;

        bool isOpen() const { return get_attr("open") != nullptr; }
        litehtml::element::ptr summary() const
        {
            for (auto& child : m_children) {
                if (hasTag(child, "summary"))
                    return child;
            }
            return nullptr;
        }

        // Text of its own goes into an inline element, which can be hidden with the rest.
        bool appendChild(const litehtml::element::ptr& element) override
        {
            if (!element || !isText(element))
                return Counted::appendChild(element);
            if (m_children.empty() || m_children.back() != m_text) {
                m_text = std::make_shared<Counted<litehtml::html_tag>>(get_document());
                m_text->set_tagName("details-text");
                Counted::appendChild(m_text);
            }
            return m_text->appendChild(element);
        }

        void parse_styles(bool reparse) override
        {
            Counted::parse_styles(reparse);
            if (isOpen())
                return;
            auto shown = summary();
            for (auto& child : m_children) {
                if (child == shown || isText(child) || child->get_display() == litehtml::display_none)
                    continue;
                child->add_style("display: none !important", "");
                child->parse_styles(true);
            }
        }

        void toggle()
        {
            if (isOpen())
                m_attrs.erase("open");
            else
                m_attrs["open"] = "";
            refresh_styles();
            parse_styles(false);
            init();
            if (auto* changes = dynamic_cast<PageChanges*>(get_document()->container()))
                changes->layoutChanged();
        }

    private:
        litehtml::element::ptr m_text;
    };

    // A <details>' summary, drawn after its disclosure triangle (in the room the engine keeps
    // for a list item's marker inside it), which opens and closes its details when clicked.
    class Summary final : public Counted<litehtml::html_tag> {
    public:
        using Counted::Counted;

        void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override
        {
            auto details = disclosed();
            bool marker = details && m_display == litehtml::display_list_item && m_list_style_type != litehtml::list_style_type_none;
            auto type = m_list_style_type;
            if (marker)
                m_list_style_type = litehtml::list_style_type_none;
            Counted::draw(hdc, x, y, clip);
            m_list_style_type = type;
            if (!marker)
                return;
            bool open = details->isOpen();
            int size = get_font_size();
            litehtml::list_marker triangle {};
            triangle.marker_type = type;
            triangle.index = open ? openDisclosureMarker : closedDisclosureMarker;
            triangle.color = get_color("color", true, litehtml::web_color(0, 0, 0));
            triangle.font = get_font();
            triangle.pos.width = open ? size * 3 / 5 : size / 2;
            triangle.pos.height = open ? size / 2 : size * 3 / 5;
            triangle.pos.x = m_pos.x + x;
            triangle.pos.y = m_pos.y + y + (line_height() - triangle.pos.height) / 2;
            get_document()->container()->draw_list_marker(hdc, triangle);
        }

        void on_click() override
        {
            // A link inside the summary is followed instead.
            bool onLink = false;
            for (auto element = get_document()->get_over_element(); element && element.get() != this; element = element->parent())
                onLink = onLink || (hasTag(std::const_pointer_cast<litehtml::element>(element), "a") && element->get_attr("href"));
            if (auto details = disclosed(); details && !onLink)
                details->toggle();
            Counted::on_click();
        }

    private:
        // The details this summary opens and closes: those it is the first summary of.
        std::shared_ptr<Details> disclosed() const
        {
            auto details = std::dynamic_pointer_cast<Details>(parent());
            return details && details->summary().get() == this ? details : nullptr;
        }
    };

    // A heading's align attribute aligns its text, as a paragraph's does (texinfo centres its
    // manual's title so).
    class Heading final : public Counted<litehtml::html_tag> {
    public:
        using Counted::Counted;

        void parse_attributes() override
        {
            if (auto* align = get_attr("align"))
                m_style.add_property("text-align", align, nullptr, false, this);
            Counted::parse_attributes();
        }
    };
}

bool isTransparent(const litehtml::element& element)
{
    auto* given = element.get_style_property("opacity", false, "1");
    if (!given)
        return false;
    std::string_view opacity(given);
    double value = 1;
    // Read as CSS writes it, whatever the process's locale.
    auto [end, error] = std::from_chars(opacity.data(), opacity.data() + opacity.size(), value);
    if (error != std::errc())
        return false;
    if (end != opacity.data() + opacity.size() && *end == '%')
        value /= 100;
    return value <= 0;
}

std::shared_ptr<litehtml::element> newElement(const std::string& tag, const std::shared_ptr<litehtml::document>& document)
{
    // The engine's own kinds for these tags, each with its own layout.
    if (tag == "p")
        return std::make_shared<Counted<litehtml::el_para>>(document);
    if (tag == "div")
        return std::make_shared<Counted<litehtml::el_div>>(document);
    if (tag == "body")
        return std::make_shared<Counted<litehtml::el_body>>(document);
    if (tag == "table")
        return std::make_shared<Counted<litehtml::el_table>>(document);
    if (tag == "tr")
        return std::make_shared<Counted<litehtml::el_tr>>(document);
    if (tag == "td" || tag == "th")
        return std::make_shared<Counted<litehtml::el_td>>(document);
    if (tag == "a")
        return std::make_shared<Counted<litehtml::el_anchor>>(document);
    if (tag == "font")
        return std::make_shared<Counted<litehtml::el_font>>(document);
    if (tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6')
        return std::make_shared<Heading>(document);
    if (tag == "details")
        return std::make_shared<Details>(document);
    if (tag == "summary")
        return std::make_shared<Summary>(document);
    // These hold text or nothing.
    if (tag == "br")
        return std::make_shared<Break>(document);
    if (tag == "img" || tag == "link" || tag == "title" || tag == "style" || tag == "base" || tag == "script")
        return nullptr;
    return std::make_shared<Counted<litehtml::html_tag>>(document);
}

}
