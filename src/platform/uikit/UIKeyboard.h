#pragma once

#include "platform/graphics/CGGeometry.h"

#include <memory>

namespace vesk::platform {

class UIView;

inline constexpr const char* UIKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline constexpr const char* UIKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
// The keyboard's frame (a CGRect, screen points) when the change is over.
inline constexpr const char* UIKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";

// The first responder, which takes the typing: at most one text field or text view. The keyboard
// is up while there is one; it comes up (or stays up) with "will show" each time a view takes
// the role and goes down with "will hide" when the last one gives it up. Main thread only.
class UIKeyboard {
public:
    static std::shared_ptr<UIView> firstResponder();
    static bool isVisible() { return firstResponder() != nullptr; }
    // On screen: the bottom strip of the main screen, the platform's portrait height.
    static CGRect frame();

    // For the views that take typing.
    static void becomeFirstResponder(UIView& view);
    static void resignFirstResponder(UIView& view);
    static bool isFirstResponder(const UIView& view);
};

}
