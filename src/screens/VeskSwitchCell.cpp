#include "screens/VeskSwitchCell.h"

#include "app/Utility.h"

namespace vesk {

using namespace platform;

VeskSwitchCell::VeskSwitchCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier))
    , m_utility(std::make_unique<Utility>())
{
    auto bounds = this->bounds();
    auto title = std::make_shared<UILabel>(CGRectMake(15, 0, bounds.size.width - 95, bounds.size.height));
    auto knob = std::make_shared<UISwitch>(CGRectMake(bounds.size.width - 66, (bounds.size.height - 31) / 2, 51, 31));
    contentView()->addSubview(title);
    contentView()->addSubview(knob);
    m_title = title;
    m_knob = knob;
    // The cell is found through the view tree, so the action neither keeps it alive nor
    // outlives it.
    knob->addTarget(UIControlEvent::ValueChanged, [](UIControl& sender) {
        auto content = sender.superview();
        auto cell = std::dynamic_pointer_cast<VeskSwitchCell>(content ? content->superview() : nullptr);
        if (cell)
            cell->changeSwitch(static_cast<UISwitch&>(sender));
    });
}

VeskSwitchCell::~VeskSwitchCell() = default;

void VeskSwitchCell::setup()
{
    m_utility->setup();
    if (auto switchView = knob())
        switchView->setOn(m_on, false);
}

void VeskSwitchCell::changeSwitch(UISwitch& sender)
{
    if (m_delegate)
        m_delegate->changedSwitch(sender.isOn(), *this);
}

}
