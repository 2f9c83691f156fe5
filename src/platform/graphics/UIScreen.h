#pragma once

#include "platform/graphics/CGGeometry.h"

namespace vesk::platform {

// The main screen; its scale (pixels per point, default 2) is a setting for tests and
// for the program's start.
class UIScreen {
public:
    static UIScreen& mainScreen();
    CGFloat scale() const;
    // Values that are not finite and positive are ignored.
    void setScale(CGFloat scale);
    // In points; a phone's (0, 0, 375, 667) unless set.
    CGRect bounds() const;
    void setBounds(const CGRect& bounds);

private:
    UIScreen() = default;
};

}
