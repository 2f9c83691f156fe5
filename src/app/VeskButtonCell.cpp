#include "app/VeskButtonCell.h"

namespace vesk {

using namespace platform;

VeskButtonCell::VeskButtonCell(std::optional<std::string> reuseIdentifier)
    : UITableViewCell(UITableViewCellStyle::Default, std::move(reuseIdentifier))
    , m_buttonLabel(textLabel())
{
    m_buttonLabel->setTextAlignment(NSTextAlignment::Center);
    layoutSubviews();
}

void VeskButtonCell::layoutSubviews()
{
    contentView()->setFrame(bounds());
    m_buttonLabel->setFrame(bounds().insetBy(15, 4));
}

}
