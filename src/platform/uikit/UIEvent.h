#pragma once

#include "platform/foundation/Clock.h"
#include "platform/graphics/CGGeometry.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

class NSTimer;
class UIScrollView;
class UITableView;
class UIView;

enum class UIKey {
    Return,
    Backspace,
    Escape,
    Left,
    Right,
    Up,
    Down,
    Tab,
    // Shift and Tab.
    BackTab,
    Home,
    End,
    PageUp,
    PageDown,
    // Control and Home, Control and End.
    TextStart,
    TextEnd,
};

// A person's pointer and keys on the key window, turned into what the screens already take:
// taps on rows, buttons, switches, segments, bar items, alert actions and banners; drags and
// the wheel that scroll a table, a scroll view or a web page, and zoom a scroll view; a drag
// that coasts on when let go while moving; the scroll indicator held and dragged; a sideways
// drag or a secondary click that reveals a row's actions; typing into the first responder, and
// the keys that page through what the screen shows (the arrows also move a web page). Points
// are in the window's coordinates. Time is the main run loop's clock. Main thread.
class UIEventDispatcher {
public:
    static UIEventDispatcher& shared();

    void pointerDown(CGPoint point);
    void pointerMoved(CGPoint point);
    // Ends a drag, or taps where the pointer went down when it hardly moved.
    void pointerUp(CGPoint point);
    void secondaryClick(CGPoint point);
    // The wheel: moves the content under the point up by dy points, and left by dx.
    void scroll(CGPoint point, CGFloat dy) { scroll(point, 0, dy); }
    void scroll(CGPoint point, CGFloat dx, CGFloat dy);
    // A pinch: zooms the scroll view under the point by the factor.
    void zoom(CGPoint point, CGFloat factor);
    void insertText(const std::string& text);
    void pressKey(UIKey key);
    // Whether typing has a field to go to.
    bool acceptsText() const;
    // Forgets a gesture under way (the window lost the pointer).
    void cancelGesture();

private:
    enum class Axis {
        None,
        Vertical,
        Horizontal,
    };
    void tap(CGPoint point);
    void startCoasting(const std::shared_ptr<UIView>& view, CGPoint velocity);
    void coast();
    void stopCoasting();
    std::optional<CGPoint> m_down;
    CGPoint m_last {};
    Axis m_axis = Axis::None;
    std::weak_ptr<UITableView> m_table;
    std::weak_ptr<UIView> m_cell;
    // What a drag that is no table's pans: a scroll view or a web page.
    std::weak_ptr<UIView> m_panned;
    // Where the pointer was lately while it dragged, for the speed it was let go at.
    std::vector<std::pair<Clock::time_point, CGPoint>> m_moves;
    // The scroll view whose indicator is held, the point of the knob held, and the offset of
    // the view in the window.
    std::weak_ptr<UIScrollView> m_knobView;
    CGFloat m_knobGrab = 0;
    CGFloat m_knobViewTop = 0;
    bool m_knobMoved = false;
    // What coasts on after a drag, at what speed (points a second), from when.
    std::weak_ptr<UIView> m_coasting;
    CGPoint m_velocity {};
    Clock::time_point m_coastedAt {};
    std::shared_ptr<NSTimer> m_coastTimer;
};

}
