#pragma once

#include "platform/uikit/UIControl.h"

namespace vesk::platform {

// An on/off switch.
class UISwitch : public UIControl {
public:
    using UIControl::UIControl;

    bool isOn() const { return m_on; }
    // From code: no event.
    void setOn(bool on, bool animated = false);

    // What a person's flip does: turns the switch over and sends ValueChanged.
    void flip();
    void drawRect(CGRect rect) override;

private:
    bool m_on = false;
};

}
