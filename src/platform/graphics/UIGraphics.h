#pragma once

#include "platform/graphics/CGContext.h"
#include "platform/graphics/CGGeometry.h"

#include <memory>

namespace vesk::platform {

class UIImage;

// Image contexts live on a stack of the calling thread, so any thread can draw. Their user
// space is in points with the origin at the top left and y growing downwards.

// Opens a bitmap context of size points at scale pixels per point (0: the main screen's
// scale). Not opaque: it starts fully transparent; opaque: it starts opaque black.
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale);
void UIGraphicsBeginImageContext(CGSize size);
// A new image of the current image context's contents; null without one.
std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext();
// Closes the thread's top image context; does nothing without one.
void UIGraphicsEndImageContext();

// The thread's current context (the top of its stack), or null.
CGContextRef UIGraphicsGetCurrentContext();
// Makes a context of the caller's current until the matching pop (a view's drawing).
void UIGraphicsPushContext(CGContextRef context);
void UIGraphicsPopContext();

}
