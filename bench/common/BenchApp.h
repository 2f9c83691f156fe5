#pragma once

#include "app/MainStoryboard.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIViewRendering.h"

#include <memory>

namespace vesk::bench {

// The app launched on the phone's screen with an empty first screen, drawn once so that its
// fonts are loaded before anything is measured; answers that screen, to present from.
inline std::shared_ptr<platform::UIViewController> launchOnEmptyScreen()
{
    using namespace vesk::platform;
    registerMainStoryboard();
    auto home = std::make_shared<UIViewController>();
    UIStoryboard::storyboardWithName("Main").setInitialViewController([home] { return home; });
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 375, 667));
    UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
    RunLoop::main().drain();
    UIRenderer::imageOfWindow(*UIApplication::sharedApplication().keyWindow(), 2);
    return home;
}

// The viewer of the kind shown over the screen, in the navigation controller it presented;
// null when there is none.
template<typename Viewer>
std::shared_ptr<Viewer> presentedViewer(const std::shared_ptr<platform::UIViewController>& screen)
{
    auto navigation = std::dynamic_pointer_cast<platform::UINavigationController>(screen->presentedViewController());
    return navigation ? std::dynamic_pointer_cast<Viewer>(navigation->topViewController()) : nullptr;
}

}
