#pragma once

#include "platform/uikit/UIView.h"

namespace vesk::platform {

enum class UIProgressViewStyle {
    Default,
    Bar,
};

// A bar that shows how far a piece of work has come, from 0 to 1.
class UIProgressView : public UIView {
public:
    explicit UIProgressView(UIProgressViewStyle style = UIProgressViewStyle::Default);
    static std::shared_ptr<UIProgressView> initWithProgressViewStyle(UIProgressViewStyle style);

    UIProgressViewStyle progressViewStyle() const { return m_style; }
    float progress() const { return m_progress; }
    // Kept within 0...1; anything that is not a number counts as 0.
    void setProgress(float progress, bool animated = false);
    void drawRect(CGRect rect) override;

private:
    UIProgressViewStyle m_style;
    float m_progress = 0;
};

}
