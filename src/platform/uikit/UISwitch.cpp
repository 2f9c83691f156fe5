#include "platform/uikit/UISwitch.h"

namespace vesk::platform {

void UISwitch::setOn(bool on, bool)
{
    if (m_on != on)
        setNeedsDisplay();
    m_on = on;
}

void UISwitch::flip()
{
    if (!isEnabled())
        return;
    m_on = !m_on;
    setNeedsDisplay();
    sendActionsForControlEvents(UIControlEvent::ValueChanged);
}

}
