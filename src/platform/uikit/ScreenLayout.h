#pragma once

#include "platform/graphics/CGGeometry.h"

#include <cairo.h>
#include <cstddef>
#include <memory>

namespace vesk::platform {

class UINavigationController;
class UIView;
class UIViewController;
class UIWindow;

// Where the screens go in the window: containers place their children, presented screens
// lie over their presenters.
namespace screenLayout {

    // The bars and the top screen's view of a navigation controller, in its view: the view
    // fills the controller's, under the bars, but a table lies between them.
    void layoutNavigationController(UINavigationController& navigation);
    // The bounds a screen's view is made with: those its container will give it, so that a
    // screen placing its views from its bounds places them right in a pad's sheet too.
    CGRect boundsForLoadingView(UIViewController& controller);
    // How far down the bars above a screen's content reach: the status bar, unless the screen
    // is in a sheet, and the navigation bar when one is shown.
    CGFloat topBarsHeight(UIViewController& controller);
    // The frame of a presented screen's view in the window.
    CGRect presentedFrame(UIViewController& controller, const CGRect& windowBounds);
    // The first subview of the window worth drawing: the last screen that covers the window.
    std::size_t firstShownSubview(UIWindow& window);
    // Dims what lies beneath a sheet that leaves the screens under it partly visible.
    void drawPresentationBackdrop(UIWindow& window, UIView& subview, cairo_t* cr);

}

}
