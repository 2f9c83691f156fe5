#include "renderer/engine/FormControls.h"

#include "renderer/engine/ElementKinds.h"
#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace vesk::platform {

namespace {

    enum class Kind {
        Field,
        Password,
        Checkbox,
        Radio,
        Button,
        Select,
        ListBox,
        TextArea,
    };

    constexpr int checkSide = 13;
    // How many characters a field, or a text area's line, holds when the page says nothing.
    constexpr int defaultColumns = 20;
    constexpr int defaultRows = 2;
    constexpr int defaultListRows = 4;
    // Attributes past these would only make a box wider than any screen.
    constexpr int maximumColumns = 1000;
    constexpr int maximumRows = 1000;
    // No line of a control shows more characters than this: a value of megabytes would only be
    // measured and laid out to be clipped.
    constexpr std::size_t maximumLineCharacters = 4096;

    const litehtml::web_color placeholderColor(117, 117, 117);
    const litehtml::web_color markColor(0, 117, 255);
    const litehtml::web_color frameColor(118, 118, 118);
    const litehtml::web_color chosenColor(206, 206, 206);

    std::string lowercased(std::string text)
    {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
        return text;
    }

    std::string collapsed(std::string_view text)
    {
        std::string out;
        for (char c : text) {
            if (!isHTMLSpace(c))
                out += c;
            else if (!out.empty() && out.back() != ' ')
                out += ' ';
        }
        if (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out;
    }

    // A count from an attribute, when it is a whole number of at least `least`.
    std::optional<int> countAttribute(const litehtml::tchar_t* value, int least, int most)
    {
        if (!value)
            return std::nullopt;
        char* end = nullptr;
        long number = std::strtol(value, &end, 10);
        if (end == value || number < least)
            return std::nullopt;
        return static_cast<int>(std::min<long>(number, most));
    }

    // No control is larger than this on either side.
    constexpr double maximumSide = 1 << 24;

    int side(double length)
    {
        return length > 0 ? static_cast<int>(std::min(length, maximumSide)) : 0;
    }

    // The text's first `count` characters, never cutting one in two.
    std::string_view prefix(std::string_view text, std::size_t count)
    {
        std::size_t at = 0;
        for (std::size_t seen = 0; at < text.size(); ++at) {
            if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == count)
                break;
        }
        return text.substr(0, at);
    }

    void setColor(cairo_t* cr, const litehtml::web_color& color)
    {
        cairo_set_source_rgba(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0, color.alpha / 255.0);
    }

    // The page draws with cairo: the drawing handle the engine hands every element is its context.
    class FormControl final : public litehtml::html_tag {
    public:
        FormControl(const std::shared_ptr<litehtml::document>& document, Kind kind)
            : html_tag(document)
            , m_kind(kind)
        {
        }

        bool is_replaced() const override { return true; }

        // Types are matched by the styles as written in lower case, whatever the page wrote.
        void set_attr(const litehtml::tchar_t* name, const litehtml::tchar_t* value) override
        {
            if (name && value && lowercased(name) == "type")
                html_tag::set_attr(name, lowercased(value).c_str());
            else
                html_tag::set_attr(name, value);
        }

        void parse_styles(bool reparse) override
        {
            html_tag::parse_styles(reparse);
            // A control is one box on its line, never a run of inline content.
            if (m_display == litehtml::display_inline)
                m_display = litehtml::display_inline_block;
            if (isTransparent(*this))
                m_visibility = litehtml::visibility_hidden;
        }

        void get_content_size(litehtml::size& size, int) override
        {
            auto* container = get_document()->container();
            int line = m_font_metrics.height;
            size.width = size.height = 0;
            switch (m_kind) {
            case Kind::Checkbox:
            case Kind::Radio:
                size.width = size.height = checkSide;
                return;
            case Kind::Field:
            case Kind::Password:
                size.width = countAttribute(get_attr("size"), 1, maximumColumns).value_or(defaultColumns) * characterWidth();
                size.height = line;
                return;
            case Kind::Button:
                size.width = container->text_width(buttonLabel().c_str(), m_font);
                size.height = line;
                return;
            case Kind::Select:
            case Kind::ListBox:
                for (auto& option : options())
                    size.width = std::max(size.width, container->text_width(labelOf(*option.element).c_str(), m_font));
                size.width += arrowWidth();
                size.height = line * (m_kind == Kind::Select ? 1 : listRows());
                return;
            case Kind::TextArea:
                size.width = countAttribute(get_attr("cols"), 1, maximumColumns).value_or(defaultColumns) * characterWidth();
                size.height = countAttribute(get_attr("rows"), 1, maximumRows).value_or(defaultRows) * line;
                return;
            }
        }

        int render(int x, int y, int maxWidth, bool) override
        {
            calc_outlines(maxWidth);
            m_pos.move_to(x, y);
            litehtml::size natural;
            get_content_size(natural, maxWidth);
            // In doubles and bounded at the end: a page's lengths may be huge or negative.
            double width = natural.width, height = natural.height;
            auto document = get_document();
            bool borderBox = m_box_sizing == litehtml::box_sizing_border_box;
            double frameWidth = borderBox ? m_padding.width() + m_borders.width() : 0;
            double frameHeight = borderBox ? m_padding.height() + m_borders.height() : 0;
            if (!m_css_width.is_predefined())
                width = double(m_css_width.calc_percent(maxWidth)) - frameWidth;
            if (!m_css_height.is_predefined()) {
                int predefined = 0;
                height = (get_predefined_height(predefined) ? predefined : double(m_css_height.val())) - frameHeight;
            }
            if (!m_css_max_width.is_predefined())
                width = std::min(width, document->cvt_units(m_css_max_width, m_font_size, maxWidth) - frameWidth);
            if (!m_css_min_width.is_predefined())
                width = std::max(width, document->cvt_units(m_css_min_width, m_font_size, maxWidth) - frameWidth);
            m_pos.width = side(width);
            m_pos.height = side(height);
            calc_auto_margins(maxWidth);
            m_pos.x += content_margins_left();
            m_pos.y += content_margins_top();
            return m_pos.width + content_margins_left() + content_margins_right();
        }

        // Text in a one-line control sits on the line's baseline, as the text beside it does.
        int get_base_line() override
        {
            if (m_kind == Kind::Checkbox || m_kind == Kind::Radio || m_kind == Kind::ListBox || m_kind == Kind::TextArea)
                return 0;
            return content_margins_bottom() + (m_pos.height - textTop() - m_font_metrics.height) + m_font_metrics.descent;
        }

        int line_height() const override { return height(); }

        // The parser gives options and a text area's text as children: they are drawn as the
        // control's face, never as boxes of their own.
        bool fetch_positioned() override
        {
            m_positioned.clear();
            return false;
        }
        void draw_children(litehtml::uint_ptr, int, int, const litehtml::position*, litehtml::draw_flag, int) override { }

        void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override
        {
            auto content = m_pos;
            content.x += x;
            content.y += y;
            auto frame = content;
            frame += m_padding;
            frame += m_borders;
            if (clip && !frame.does_intersect(clip))
                return;
            auto* container = get_document()->container();
            if (auto* background = get_background()) {
                litehtml::background_paint paint;
                init_background_paint(content, paint, background);
                container->draw_background(hdc, paint);
            }
            auto borders = static_cast<litehtml::borders>(m_css_borders);
            borders.radius = m_css_borders.radius.calc_percents(frame.width, frame.height);
            container->draw_borders(hdc, borders, frame, false);

            auto* cr = reinterpret_cast<cairo_t*>(hdc);
            cairo_save(cr);
            cairo_rectangle(cr, content.x, content.y, content.width, content.height);
            cairo_clip(cr);
            auto color = get_color("color", true, litehtml::web_color(0, 0, 0));
            switch (m_kind) {
            case Kind::Checkbox:
            case Kind::Radio:
                drawMark(cr, content);
                break;
            case Kind::Field:
            case Kind::Password: {
                auto value = get_attr("value", "");
                if (*value)
                    drawLine(hdc, m_kind == Kind::Password ? dots(prefix(value, maximumLineCharacters)) : value, color, content, content.x);
                else if (auto* placeholder = get_attr("placeholder"))
                    drawLine(hdc, collapsed(placeholder), placeholderColor, content, content.x);
                break;
            }
            case Kind::Button: {
                auto label = buttonLabel();
                int left = content.x + std::max(0, (content.width - container->text_width(label.c_str(), m_font)) / 2);
                drawLine(hdc, label, color, content, left);
                break;
            }
            case Kind::Select: {
                auto all = options();
                if (!all.empty())
                    drawLine(hdc, labelOf(*all[chosenIndex(all)].element), color, content, content.x);
                drawArrow(cr, content, color);
                break;
            }
            case Kind::ListBox:
                drawList(hdc, content, color, shownBottom(content, clip));
                break;
            case Kind::TextArea:
                drawText(hdc, content, color, shownBottom(content, clip));
                break;
            }
            cairo_restore(cr);
        }

    private:
        // Its label is read only where it is measured or shown: a page may hold many.
        struct Option {
            litehtml::element::ptr element;
            bool selected = false;
            bool disabled = false;
        };

        // Lines below the part of the page being drawn are neither measured nor drawn.
        static int shownBottom(const litehtml::position& content, const litehtml::position* clip)
        {
            return clip ? std::min(content.bottom(), clip->bottom()) : content.bottom();
        }

        int characterWidth() const
        {
            return std::max(1, get_document()->container()->text_width("0", m_font));
        }

        int arrowWidth() const { return m_kind == Kind::Select ? std::max(12, m_font_metrics.height) : 0; }

        int listRows() const
        {
            auto rows = countAttribute(get_attr("size"), 1, maximumRows);
            return rows && *rows > 1 ? *rows : defaultListRows;
        }

        // Where a one-line control's text starts: in the middle of a box taller than its line.
        int textTop() const { return std::max(0, (m_pos.height - m_font_metrics.height) / 2); }

        std::string buttonLabel() const
        {
            if (auto* value = get_attr("value"))
                return std::string(prefix(value, maximumLineCharacters));
            auto type = lowercased(get_attr("type", ""));
            return type == "submit" ? "Submit" : type == "reset" ? "Reset"
                                                                 : "";
        }

        static std::string dots(std::string_view value)
        {
            std::string out;
            for (unsigned char c : value) {
                if ((c & 0xC0) != 0x80)
                    out += "\u2022";
            }
            return out;
        }

        std::vector<Option> options() const
        {
            std::vector<Option> found;
            std::vector<litehtml::element::ptr> stack;
            for (auto index = get_children_count(); index > 0; --index)
                stack.push_back(get_child(static_cast<int>(index - 1)));
            while (!stack.empty()) {
                auto element = std::move(stack.back());
                stack.pop_back();
                auto* name = element->get_tagName();
                std::string_view tag = name ? name : "";
                if (tag == "option") {
                    Option option;
                    option.element = element;
                    option.selected = element->get_attr("selected") != nullptr;
                    option.disabled = element->get_attr("disabled") != nullptr;
                    found.push_back(std::move(option));
                } else if (tag == "optgroup") {
                    for (auto index = element->get_children_count(); index > 0; --index)
                        stack.push_back(element->get_child(static_cast<int>(index - 1)));
                }
            }
            return found;
        }

        static std::string labelOf(litehtml::element& option)
        {
            if (auto* label = option.get_attr("label"); label && *label)
                return std::string(prefix(collapsed(label), maximumLineCharacters));
            litehtml::tstring text;
            option.get_text(text);
            return std::string(prefix(collapsed(text), maximumLineCharacters));
        }

        // The last option marked selected (a single choice keeps only that one), else the
        // first that can be chosen.
        static std::size_t chosenIndex(const std::vector<Option>& all)
        {
            for (auto index = all.size(); index > 0; --index) {
                if (all[index - 1].selected)
                    return index - 1;
            }
            for (std::size_t index = 0; index < all.size(); ++index) {
                if (!all[index].disabled)
                    return index;
            }
            return 0;
        }

        void drawLine(litehtml::uint_ptr hdc, std::string_view text, const litehtml::web_color& color, const litehtml::position& content, int left)
        {
            if (text.empty())
                return;
            std::string shown(prefix(text, maximumLineCharacters));
            litehtml::position line(left, content.y + textTop(), content.right() - left, m_font_metrics.height);
            get_document()->container()->draw_text(hdc, shown.c_str(), m_font, color, line);
        }

        void drawMark(cairo_t* cr, const litehtml::position& content)
        {
            bool checked = get_attr("checked") != nullptr;
            double side = std::min(content.width, content.height);
            if (side < 2)
                return;
            double left = content.x + (content.width - side) / 2, top = content.y + (content.height - side) / 2;
            double unit = side / checkSide;
            cairo_new_path(cr);
            if (m_kind == Kind::Radio) {
                double cx = left + side / 2, cy = top + side / 2;
                cairo_arc(cr, cx, cy, side / 2 - 0.5, 0, 2 * M_PI);
                cairo_set_source_rgb(cr, 1, 1, 1);
                cairo_fill_preserve(cr);
                setColor(cr, checked ? markColor : frameColor);
                cairo_set_line_width(cr, 1);
                cairo_stroke(cr);
                if (checked) {
                    cairo_arc(cr, cx, cy, side / 2 - 3 * unit, 0, 2 * M_PI);
                    setColor(cr, markColor);
                    cairo_fill(cr);
                }
                return;
            }
            if (checked) {
                cairo_rectangle(cr, left, top, side, side);
                setColor(cr, markColor);
                cairo_fill(cr);
                cairo_move_to(cr, left + 3 * unit, top + 6.5 * unit);
                cairo_line_to(cr, left + 5.5 * unit, top + 9 * unit);
                cairo_line_to(cr, left + 10 * unit, top + 3.5 * unit);
                cairo_set_source_rgb(cr, 1, 1, 1);
                cairo_set_line_width(cr, std::max(1.0, 2 * unit));
                cairo_stroke(cr);
            } else {
                cairo_rectangle(cr, left + 0.5, top + 0.5, side - 1, side - 1);
                cairo_set_source_rgb(cr, 1, 1, 1);
                cairo_fill_preserve(cr);
                setColor(cr, frameColor);
                cairo_set_line_width(cr, 1);
                cairo_stroke(cr);
            }
        }

        void drawArrow(cairo_t* cr, const litehtml::position& content, const litehtml::web_color& color)
        {
            double size = std::max(4.0, m_font_metrics.height / 3.0);
            double cx = content.right() - arrowWidth() / 2.0, cy = content.y + content.height / 2.0;
            cairo_move_to(cr, cx - size / 2, cy - size / 4);
            cairo_line_to(cr, cx + size / 2, cy - size / 4);
            cairo_line_to(cr, cx, cy + size / 4);
            cairo_close_path(cr);
            setColor(cr, color);
            cairo_fill(cr);
        }

        void drawList(litehtml::uint_ptr hdc, const litehtml::position& content, const litehtml::web_color& color, int bottom)
        {
            auto* cr = reinterpret_cast<cairo_t*>(hdc);
            int line = std::max(1, m_font_metrics.height);
            auto all = options();
            int top = content.y;
            for (auto& option : all) {
                if (top >= bottom)
                    break;
                if (option.selected) {
                    setColor(cr, chosenColor);
                    cairo_rectangle(cr, content.x, top, content.width, line);
                    cairo_fill(cr);
                }
                litehtml::position at(content.x, top, content.width, line);
                if (auto text = labelOf(*option.element); !text.empty())
                    get_document()->container()->draw_text(hdc, text.c_str(), m_font, option.disabled ? placeholderColor : color, at);
                top += line;
            }
        }

        // The text area's lines, wrapped at spaces to its width (a word wider than a line
        // broken where it reaches the edge), from the top until the box is full.
        void drawText(litehtml::uint_ptr hdc, const litehtml::position& content, const litehtml::web_color& color, int bottom)
        {
            litehtml::tstring text;
            html_tag::get_text(text);
            auto ink = color;
            if (auto* placeholder = get_attr("placeholder"); text.empty() && placeholder) {
                text = placeholder;
                ink = placeholderColor;
            }
            auto* container = get_document()->container();
            int line = std::max(1, m_font_metrics.height);
            int top = content.y;
            int spaceWidth = container->text_width(" ", m_font);
            // Words are measured one by one, as the engine measures a page's words.
            auto widthOf = [&](std::string_view word) { return container->text_width(std::string(word).c_str(), m_font); };
            auto charactersPerLine = static_cast<std::size_t>(std::max(1, content.width / characterWidth()));
            std::string current;
            int currentWidth = 0;
            auto show = [&] {
                if (!current.empty())
                    container->draw_text(hdc, current.c_str(), m_font, ink, litehtml::position(content.x, top, content.width, line));
                top += line;
                current.clear();
                currentWidth = 0;
            };
            std::string_view rest = text;
            while (top < bottom) {
                auto end = rest.find('\n');
                auto paragraph = rest.substr(0, end);
                if (!paragraph.empty() && paragraph.back() == '\r')
                    paragraph.remove_suffix(1);
                while (!paragraph.empty() && top < bottom) {
                    auto space = paragraph.find(' ');
                    auto word = paragraph.substr(0, space);
                    paragraph.remove_prefix(space == std::string_view::npos ? paragraph.size() : space + 1);
                    // A word longer than a line goes in pieces of a line's characters at most.
                    while (top < bottom) {
                        auto piece = prefix(word, charactersPerLine);
                        int width = widthOf(piece);
                        int needed = current.empty() ? width : currentWidth + spaceWidth + width;
                        if (!current.empty() && needed > content.width) {
                            show();
                            continue;
                        }
                        if (!current.empty())
                            current += ' ';
                        current += piece;
                        currentWidth = needed;
                        word.remove_prefix(piece.size());
                        if (word.empty())
                            break;
                        show();
                    }
                }
                show();
                if (end == std::string_view::npos)
                    break;
                rest.remove_prefix(end + 1);
            }
        }

        Kind m_kind;
    };

}

std::shared_ptr<litehtml::element> newFormControl(const std::string& tag, const litehtml::string_map& attributes, const std::shared_ptr<litehtml::document>& document)
{
    auto attribute = [&](const char* name) -> const std::string* {
        auto found = attributes.find(name);
        return found == attributes.end() ? nullptr : &found->second;
    };
    std::optional<Kind> kind;
    if (tag == "select") {
        auto* size = attribute("size");
        auto rows = size ? countAttribute(size->c_str(), 1, maximumRows) : std::nullopt;
        kind = attribute("multiple") || (rows && *rows > 1) ? Kind::ListBox : Kind::Select;
    } else if (tag == "textarea") {
        kind = Kind::TextArea;
    } else if (tag == "input") {
        auto* given = attribute("type");
        auto type = given ? lowercased(*given) : "";
        if (type == "hidden" || type == "image")
            return nullptr;
        if (type == "checkbox")
            kind = Kind::Checkbox;
        else if (type == "radio")
            kind = Kind::Radio;
        else if (type == "submit" || type == "reset" || type == "button")
            kind = Kind::Button;
        else if (type == "password")
            kind = Kind::Password;
        else
            kind = Kind::Field;
    }
    if (!kind)
        return nullptr;
    return std::make_shared<FormControl>(document, *kind);
}

}
