#include "renderer/engine/ElementKinds.h"

#include <limits>
#include <litehtml/el_anchor.h>
#include <litehtml/el_body.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_para.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_tr.h>
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

    template<class Base>
    class Counted final : public Base {
    public:
        explicit Counted(const std::shared_ptr<litehtml::document>& document)
            : Base(document)
        {
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

        // A position the engine doesn't know it takes for fixed, out of the flow and at the
        // view's corner; "sticky" stays in the flow where it is until scrolled past, as static
        // does.
        void parse_styles(bool is_reparse) override
        {
            Base::parse_styles(is_reparse);
            if (this->m_el_position != litehtml::element_position_fixed)
                return;
            auto* value = Base::get_style_property("position", false, "static");
            if (litehtml::value_index(value ? value : "", element_position_strings, -1) < 0)
                this->m_el_position = litehtml::element_position_static;
        }

    private:
        mutable SiblingPlaces m_places;
    };

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
    // These hold text or nothing.
    if (tag == "br" || tag == "img" || tag == "link" || tag == "title" || tag == "style" || tag == "base" || tag == "script")
        return nullptr;
    return std::make_shared<Counted<litehtml::html_tag>>(document);
}

}
