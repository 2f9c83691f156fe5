#pragma once

#include "platform/graphics/CGGeometry.h"

#include <cairo.h>
#include <memory>

namespace vesk::platform {

class UIImage;
class UIView;
class UIWindow;

// Marks the screen for redrawing; any thread.
void markNeedsDisplay();

// Shows a window the way the platform does: each screen where its container puts it, every
// view drawn in its frame, banners on top. Main thread.
class UIRenderer {
public:
    // Puts the screens in place: the root screen, what it presents, the navigation bars,
    // toolbars and top screens; alerts give their first text field the typing.
    static void layoutWindow(UIWindow& window);
    // Lays out, then draws the window into the context, whose user space is in points.
    static void renderWindow(UIWindow& window, cairo_t* cr);
    // What the window shows, as an image at the scale (0: the screen's).
    static std::shared_ptr<UIImage> imageOfWindow(UIWindow& window, CGFloat scale = 0);
    // Whether the window would show something else than at its last drawing: a view changed,
    // a table scrolled or reloaded, a bar's items changed, or an animation is under way.
    static bool needsDisplay();
    // Draws the view and its subviews at its frame in the context's current space.
    static void drawView(UIView& view, cairo_t* cr);
};

}
