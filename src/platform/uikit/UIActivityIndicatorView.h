#pragma once

#include "platform/uikit/UIView.h"

namespace vesk::platform {

enum class UIActivityIndicatorViewStyle {
    WhiteLarge,
    White,
    Gray,
};

// The spinning wheel that says work is under way.
class UIActivityIndicatorView : public UIView {
public:
    explicit UIActivityIndicatorView(UIActivityIndicatorViewStyle style = UIActivityIndicatorViewStyle::White);
    static std::shared_ptr<UIActivityIndicatorView> initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle style);

    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return m_style; }
    std::shared_ptr<UIColor> color() const { return m_color; }
    void setColor(std::shared_ptr<UIColor> color)
    {
        m_color = std::move(color);
        setNeedsDisplay();
    }
    // Shown only while it turns, as the platform's hides when stopped.
    void startAnimating()
    {
        m_animating = true;
        setNeedsDisplay();
    }
    void stopAnimating()
    {
        m_animating = false;
        setNeedsDisplay();
    }
    bool isAnimating() const { return m_animating; }
    void drawRect(CGRect rect) override;

private:
    UIActivityIndicatorViewStyle m_style;
    std::shared_ptr<UIColor> m_color;
    bool m_animating = false;
};

}
