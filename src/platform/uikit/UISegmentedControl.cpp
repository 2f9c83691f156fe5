#include "platform/uikit/UISegmentedControl.h"

#include <algorithm>

namespace vesk::platform {

UISegmentedControl::UISegmentedControl(std::vector<std::string> titles)
    : m_titles(std::move(titles))
{
}

std::optional<std::string> UISegmentedControl::titleForSegmentAtIndex(int index) const
{
    if (index < 0 || index >= numberOfSegments())
        return std::nullopt;
    return m_titles[static_cast<std::size_t>(index)];
}

void UISegmentedControl::setTitle(std::string title, int index)
{
    setNeedsDisplay();
    if (index >= 0 && index < numberOfSegments())
        m_titles[static_cast<std::size_t>(index)] = std::move(title);
}

void UISegmentedControl::insertSegmentWithTitle(std::string title, int index, bool)
{
    setNeedsDisplay();
    index = std::clamp(index, 0, numberOfSegments());
    m_titles.insert(m_titles.begin() + index, std::move(title));
    if (m_selected >= index)
        ++m_selected;
}

void UISegmentedControl::removeSegmentAtIndex(int index, bool)
{
    setNeedsDisplay();
    if (index < 0 || index >= numberOfSegments())
        return;
    m_titles.erase(m_titles.begin() + index);
    if (m_selected == index)
        m_selected = UISegmentedControlNoSegment;
    else if (m_selected > index)
        --m_selected;
}

void UISegmentedControl::removeAllSegments()
{
    setNeedsDisplay();
    m_titles.clear();
    m_selected = UISegmentedControlNoSegment;
}

void UISegmentedControl::setSelectedSegmentIndex(int index)
{
    setNeedsDisplay();
    m_selected = index >= 0 && index < numberOfSegments() ? index : UISegmentedControlNoSegment;
}

void UISegmentedControl::tapSegment(int index)
{
    setNeedsDisplay();
    if (!isEnabled() || index < 0 || index >= numberOfSegments())
        return;
    m_selected = index;
    sendActionsForControlEvents(UIControlEvent::ValueChanged);
}

}
