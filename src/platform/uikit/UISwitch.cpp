#include "platform/uikit/UISwitch.h"

namespace vesk::platform {

void UISwitch::setOn(bool on, bool)
{
    m_on = on;
}

void UISwitch::flip()
{
    if (!isEnabled())
        return;
    m_on = !m_on;
    sendActionsForControlEvents(UIControlEvent::ValueChanged);
}

}
