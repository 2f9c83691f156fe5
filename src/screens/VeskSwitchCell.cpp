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
    // The switch keeps to the row's end, whatever its width.
    title->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth);
    knob->setAutoresizingMask(UIViewAutoresizing::FlexibleLeftMargin);
    contentView()->addSubview(title);
    contentView()->addSubview(knob);
    m_title = title;
    m_knob = knob;
    // The cell is still being made and can't hand out a reference to itself; the action
    // reaches it through a token that dies with the cell.
    m_self = std::make_shared<VeskSwitchCell*>(this);
    knob->addTarget(UIControlEvent::ValueChanged, [self = std::weak_ptr(m_self)](UIControl& sender) {
        if (auto cell = self.lock())
            (*cell)->changeSwitch(static_cast<UISwitch&>(sender));
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
    if (auto delegate = m_delegate.lock())
        delegate->changedSwitch(sender.isOn(), *this);
}

}
