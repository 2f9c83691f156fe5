#pragma once

#include "platform/uikit/UIAlertController.h"

#include <cairo.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

// What an alert or action sheet shows over the window: the dimmed screen, a box with the
// title, the message, the text fields and the actions in their styles.
class UIAlertControllerView : public UIView {
public:
    explicit UIAlertControllerView(const std::shared_ptr<UIAlertController>& controller);

    std::shared_ptr<UIAlertController> controller() const { return m_controller.lock(); }
    void layoutSubviews() override;
    void drawRect(CGRect rect) override;
    // What a tap at the point meets: an enabled action's button, the cancel action for a tap
    // outside a popover, or nothing.
    std::shared_ptr<UIAlertAction> actionAtPoint(CGPoint point) const;
    // The action the Return key chooses: the preferred one, or the only one that is no cancel.
    std::shared_ptr<UIAlertAction> returnAction() const;
    std::shared_ptr<UIAlertAction> cancelAction() const;
    // The action the Escape key chooses: the cancel action or, in an alert without one, the
    // first enabled action that has no handler; none when every action changes something.
    std::shared_ptr<UIAlertAction> escapeAction() const;
    // Cuts what is drawn next to the alert's boxes, as what the app adds lies in them.
    void clipToBoxes(cairo_t* cr) const;

    struct Button {
        std::shared_ptr<UIAlertAction> action;
        CGRect frame;
    };
    // The buttons where they were last laid out, their titles drawn inset by 8 points a side.
    const std::vector<Button>& buttons() const { return m_buttons; }

private:
    bool isSheet() const;
    bool isPopover() const;

    // Views the app added, where it put them and where the box put them.
    struct Placed {
        std::weak_ptr<UIView> view;
        CGRect given;
        CGRect placed;
    };
    void placeAddedViews(const CGRect& box);

    std::weak_ptr<UIAlertController> m_controller;
    std::vector<Placed> m_placed;
    std::vector<CGRect> m_groups;
    // A popover's arrow toward its anchor: base, tip, base; empty when there is none.
    std::vector<CGPoint> m_arrow;
    std::vector<Button> m_buttons;
    CGRect m_titleFrame {};
    CGRect m_messageFrame {};
    std::string m_title;
    std::string m_message;
    struct Measured {
        std::string title;
        std::string message;
        CGFloat width = 0;
        bool sheet = false;
        CGFloat titleHeight = 0;
        CGFloat messageHeight = 0;
    };
    std::optional<Measured> m_measured;
    bool m_sideBySide = false;
};

}
