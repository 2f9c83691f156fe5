#pragma once

#include "platform/uikit/UIControl.h"
#include "platform/uikit/UIViewController.h"

namespace vesk::platform {

enum class UIAlertActionStyle {
    Default,
    Cancel,
    Destructive,
};

enum class UIAlertControllerStyle {
    ActionSheet = 0,
    Alert = 1,
};

class UIAlertAction {
public:
    using Handler = std::function<void(UIAlertAction&)>;
    static std::shared_ptr<UIAlertAction> actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style, Handler handler);

    const std::optional<std::string>& title() const { return m_title; }
    UIAlertActionStyle style() const { return m_style; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // An action without a handler only closes its alert: choosing it leaves everything as it was.
    bool hasHandler() const { return static_cast<bool>(m_handler); }
    void perform();

private:
    std::optional<std::string> m_title;
    UIAlertActionStyle m_style = UIAlertActionStyle::Default;
    Handler m_handler;
    bool m_enabled = true;
};

class UIAlertController : public UIViewController {
public:
    UIAlertController(std::optional<std::string> title, std::optional<std::string> message, UIAlertControllerStyle style);
    static std::shared_ptr<UIAlertController> alertControllerWithTitle(std::optional<std::string> title, std::optional<std::string> message, UIAlertControllerStyle style);

    const std::optional<std::string>& message() const { return m_message; }
    void setMessage(std::optional<std::string> message) { m_message = std::move(message); }
    UIAlertControllerStyle preferredStyle() const { return m_style; }

    void addAction(const std::shared_ptr<UIAlertAction>& action);
    const std::vector<std::shared_ptr<UIAlertAction>>& actions() const { return m_actions; }
    std::shared_ptr<UIAlertAction> actionWithTitle(const std::string& title) const;
    std::shared_ptr<UIAlertAction> preferredAction() const { return m_preferredAction; }
    void setPreferredAction(std::shared_ptr<UIAlertAction> action) { m_preferredAction = std::move(action); }

    // Only alerts take text fields.
    void addTextFieldWithConfigurationHandler(const std::function<void(UITextField&)>& configuration);
    const std::vector<std::shared_ptr<UITextField>>& textFields() const { return m_textFields; }

    // What a person's choice does: the alert goes away, then the action's handler runs.
    // Disabled actions do nothing; answers whether the action ran.
    bool chooseAction(const std::shared_ptr<UIAlertAction>& action);
    void loadView() override;

private:
    std::optional<std::string> m_message;
    UIAlertControllerStyle m_style;
    std::vector<std::shared_ptr<UIAlertAction>> m_actions;
    std::shared_ptr<UIAlertAction> m_preferredAction;
    std::vector<std::shared_ptr<UITextField>> m_textFields;
};

}
