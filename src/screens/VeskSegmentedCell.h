#pragma once

#include "platform/uikit/UISegmentedControl.h"
#include "platform/uikit/UITableView.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

class Utility;
class VeskSegmentedCell;

class VeskSegmentedCellDelegate {
public:
    virtual ~VeskSegmentedCellDelegate() = default;
    virtual void changedSegment(int, VeskSegmentedCell&) { }
};

// A table row with a title and a segmented control filled from a list of titles; reports the
// selected segment to a delegate. The title label and the control sit in the content view.
class VeskSegmentedCell : public platform::UITableViewCell {
public:
    VeskSegmentedCell(platform::UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    ~VeskSegmentedCell() override;

    std::shared_ptr<platform::UILabel> title() const { return m_title.lock(); }
    std::shared_ptr<platform::UISegmentedControl> segment() const { return m_segment.lock(); }
    std::shared_ptr<VeskSegmentedCellDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<VeskSegmentedCellDelegate>& delegate) { m_delegate = delegate; }
    // Stored only: setup rebuilds the segments from these.
    const std::optional<int>& selectedIndex() const { return m_selectedIndex; }
    void setSelectedIndex(std::optional<int> index) { m_selectedIndex = index; }
    const std::optional<std::vector<std::string>>& sectionContent() const { return m_sectionContent; }
    void setSectionContent(std::optional<std::vector<std::string>> content) { m_sectionContent = std::move(content); }

    // Call after setting sectionContent and selectedIndex: one segment per title, then the
    // selection (segment 0 for an index outside the titles).
    void setup();
    // The control's action: tells the delegate the control's selected segment.
    void didSelectSegment(platform::UIControl& sender);

private:
    std::weak_ptr<platform::UILabel> m_title;
    std::weak_ptr<platform::UISegmentedControl> m_segment;
    // Weak: the delegate is the screen whose table holds this cell.
    std::weak_ptr<VeskSegmentedCellDelegate> m_delegate;
    std::optional<int> m_selectedIndex;
    std::optional<std::vector<std::string>> m_sectionContent;
    std::unique_ptr<Utility> m_utility;
    std::shared_ptr<VeskSegmentedCell*> m_self;
};

}
