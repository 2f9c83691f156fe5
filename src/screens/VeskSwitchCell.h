#pragma once

#include "platform/uikit/UISwitch.h"
#include "platform/uikit/UITableView.h"

#include <memory>

namespace vesk {

class Utility;
class VeskSwitchCell;

class VeskSwitchCellDelegate {
public:
    virtual ~VeskSwitchCellDelegate() = default;
    virtual void changedSwitch(bool, VeskSwitchCell&) { }
};

// A table row with a title and an on/off switch that reports its flips to a delegate. The
// storyboard prototype "switchCell": the title label and the switch sit in the content view.
class VeskSwitchCell : public platform::UITableViewCell {
public:
    VeskSwitchCell(platform::UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    ~VeskSwitchCell() override;

    std::shared_ptr<platform::UILabel> title() const { return m_title.lock(); }
    std::shared_ptr<platform::UISwitch> knob() const { return m_knob.lock(); }
    // Stored only: setup puts the switch in this state.
    bool on() const { return m_on; }
    void setOn(bool on) { m_on = on; }
    std::shared_ptr<VeskSwitchCellDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<VeskSwitchCellDelegate>& delegate) { m_delegate = delegate; }

    void setup();
    // The switch's action: tells the delegate the new state; `on` stays as it was.
    void changeSwitch(platform::UISwitch& sender);

private:
    std::weak_ptr<platform::UILabel> m_title;
    std::weak_ptr<platform::UISwitch> m_knob;
    bool m_on = false;
    // Weak: the delegate is the screen whose table holds this cell.
    std::weak_ptr<VeskSwitchCellDelegate> m_delegate;
    std::unique_ptr<Utility> m_utility;
    std::shared_ptr<VeskSwitchCell*> m_self;
};

}
