#include "screens/VeskSegmentedCell.h"

#include "app/Utility.h"

namespace vesk {

using namespace platform;

VeskSegmentedCell::VeskSegmentedCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier))
    , m_utility(std::make_unique<Utility>())
{
    auto bounds = this->bounds();
    auto title = std::make_shared<UILabel>(CGRectMake(15, 0, bounds.size.width / 2 - 15, bounds.size.height));
    auto segment = std::make_shared<UISegmentedControl>(CGRectMake(bounds.size.width / 2, (bounds.size.height - 29) / 2, bounds.size.width / 2 - 15, 29));
    // Each keeps about half the row, whatever its width.
    title->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleRightMargin);
    segment->setAutoresizingMask(UIViewAutoresizing::FlexibleLeftMargin | UIViewAutoresizing::FlexibleWidth);
    contentView()->addSubview(title);
    contentView()->addSubview(segment);
    m_title = title;
    m_segment = segment;
    // The cell is still being made and can't hand out a reference to itself; the action
    // reaches it through a token that dies with the cell.
    m_self = std::make_shared<VeskSegmentedCell*>(this);
    segment->addTarget(UIControlEvent::ValueChanged, [self = std::weak_ptr(m_self)](UIControl& sender) {
        if (auto cell = self.lock())
            (*cell)->didSelectSegment(sender);
    });
}

VeskSegmentedCell::~VeskSegmentedCell() = default;

void VeskSegmentedCell::setup()
{
    m_utility->setup();
    auto control = segment();
    if (!control || !m_sectionContent)
        return;
    control->removeAllSegments();
    for (auto& title : *m_sectionContent)
        control->insertSegmentWithTitle(title, control->numberOfSegments(), false);
    // Without segments there is nothing to select.
    if (!m_selectedIndex || m_sectionContent->empty())
        return;
    int last = static_cast<int>(m_sectionContent->size()) - 1;
    control->setSelectedSegmentIndex(*m_selectedIndex < 0 || *m_selectedIndex > last ? 0 : *m_selectedIndex);
}

void VeskSegmentedCell::didSelectSegment(UIControl&)
{
    auto delegate = m_delegate.lock();
    auto control = segment();
    if (delegate && control)
        delegate->changedSegment(control->selectedSegmentIndex(), *this);
}

}
