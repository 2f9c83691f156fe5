#include "platform/uikit/UIKeyboard.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIControl.h"

namespace vesk::platform {

namespace {

    std::weak_ptr<UIView>& current()
    {
        static std::weak_ptr<UIView> responder;
        return responder;
    }

    // A text field hears when typing starts and stops going to it.
    void tellField(const std::shared_ptr<UIView>& view, UIControlEvent event)
    {
        if (auto field = std::dynamic_pointer_cast<UITextField>(view))
            field->sendActionsForControlEvents(event);
    }

    void announce(const char* name, CGRect endFrame)
    {
        NSNotificationCenter::defaultCenter().postNotificationName(name, {}, { { UIKeyboardFrameEndUserInfoKey, endFrame } });
    }

}

std::shared_ptr<UIView> UIKeyboard::firstResponder()
{
    return current().lock();
}

CGRect UIKeyboard::frame()
{
    auto screen = UIScreen::mainScreen().bounds();
    CGFloat height = UIDevice::currentDevice().userInterfaceIdiom() == UIUserInterfaceIdiom::Pad ? 264 : 216;
    return CGRectMake(0, screen.size.height - height, screen.size.width, height);
}

void UIKeyboard::becomeFirstResponder(UIView& view)
{
    if (isFirstResponder(view))
        return;
    auto previous = firstResponder();
    current() = view.weak_from_this();
    tellField(previous, UIControlEvent::EditingDidEnd);
    announce(UIKeyboardWillShowNotification, frame());
    tellField(view.weak_from_this().lock(), UIControlEvent::EditingDidBegin);
}

void UIKeyboard::resignFirstResponder(UIView& view)
{
    if (!isFirstResponder(view))
        return;
    current().reset();
    auto shown = frame();
    announce(UIKeyboardWillHideNotification, CGRectOffset(shown, 0, shown.size.height));
    tellField(view.weak_from_this().lock(), UIControlEvent::EditingDidEnd);
}

bool UIKeyboard::isFirstResponder(const UIView& view)
{
    return firstResponder().get() == &view;
}

}
