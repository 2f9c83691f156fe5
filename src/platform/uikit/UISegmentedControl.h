#pragma once

#include "platform/uikit/UIControl.h"

namespace vesk::platform {

// A row of titled segments, at most one selected.
class UISegmentedControl : public UIControl {
public:
    static constexpr int UISegmentedControlNoSegment = -1;

    using UIControl::UIControl;
    explicit UISegmentedControl(std::vector<std::string> titles);

    int numberOfSegments() const { return static_cast<int>(m_titles.size()); }
    // None outside the segments.
    std::optional<std::string> titleForSegmentAtIndex(int index) const;
    void setTitle(std::string title, int index);
    // Clamped to the segments (appended when past the end).
    void insertSegmentWithTitle(std::string title, int index, bool animated = false);
    void removeSegmentAtIndex(int index, bool animated = false);
    void removeAllSegments();

    int selectedSegmentIndex() const { return m_selected; }
    // From code: no event; an index outside the segments selects none.
    void setSelectedSegmentIndex(int index);

    // What a person's tap on a segment does: selects it and sends ValueChanged.
    void tapSegment(int index);
    // The segment under the point (in the control), if any.
    std::optional<int> segmentAtPoint(CGPoint point) const;
    void drawRect(CGRect rect) override;

private:
    std::vector<std::string> m_titles;
    int m_selected = UISegmentedControlNoSegment;
};

}
