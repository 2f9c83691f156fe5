#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIFont.h"
#include "platform/uikit/TextDrawing.h"

#include <cairo.h>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vesk::platform {

class UIBarButtonItem;
class UIImage;
class UIScrollView;
class UITextView;
class UIWebView;
class UITableView;
class UIToolbar;
class UIView;

// What the views share when they draw: the platform's colours, shapes and images, and the
// state read from outside the views that decides when the screen must be drawn again.
namespace drawing {

    // The platform's colours.
    UIColor defaultTint();
    UIColor disabledTint();
    UIColor separatorColor();
    UIColor barColor();
    UIColor barHairlineColor();
    UIColor groupedBackgroundColor();
    UIColor secondaryTextColor();
    UIColor destructiveColor();
    UIColor selectionColor();
    // The view's tint colour, or the nearest one up its superviews, or the default.
    UIColor tintOf(const UIView& view);

    void setColor(cairo_t* cr, const UIColor& color, CGFloat alpha = 1);
    void fillRect(cairo_t* cr, const CGRect& rect, const UIColor& color);
    void roundedRectPath(cairo_t* cr, const CGRect& rect, CGFloat radius);
    // Shades the ground around the current path and edges it, as under a sheet lying over
    // the screen, so it stands out whatever the colours; the path stays for the caller.
    void shadowAround(cairo_t* cr);
    // A line one device pixel thick along the top of y.
    void hairline(cairo_t* cr, CGFloat x0, CGFloat x1, CGFloat y, const UIColor& color);
    // The image stretched onto the rectangle.
    void drawImage(cairo_t* cr, const UIImage& image, const CGRect& rect, CGFloat alpha = 1);
    // The image's shape filled with the colour, as bars show their item images.
    void drawTemplateImage(cairo_t* cr, const UIImage& image, const CGRect& rect, const UIColor& color);
    // The right-pointing chevron of a disclosure indicator or a back button.
    void chevron(cairo_t* cr, CGPoint tip, CGFloat height, bool pointsLeft, CGFloat width, const UIColor& color);
    text::Style textStyle(std::shared_ptr<UIFont> font, const UIColor& color, text::Align align = text::Align::Left);

    // State outside the views that a drawing read: its signature is taken again before each
    // frame, and a different one makes the screen draw again.
    void watch(std::function<std::size_t()> signature);
    std::size_t combine(std::size_t seed, std::size_t value);
    std::size_t hashText(const std::string& text);
    // Something on screen moves by itself (an animated image): draw again next frame.
    void noteMovingContent();
    // Seconds on the main run loop's clock.
    double now();

    // Views whose content the renderer draws from outside their class.
    void drawTable(UITableView& table, cairo_t* cr);
    // How wide the item's title, image or glyph is on a bar.
    CGFloat barItemWidth(const UIBarButtonItem& item);
    // Scrolls by the distance within the content and its insets; answers whether it moved.
    // Scrolling shows the indicator for a moment.
    bool scrollBy(UIScrollView& view, CGFloat dx, CGFloat dy);
    // Scrolls to the offset, kept within the content (INFINITY: the end).
    bool scrollTo(UIScrollView& view, CGFloat y);
    // The vertical scroll indicator in the view's bounds, unscrolled: its track and its knob,
    // whose length is the part of the content in view. None when the content fits.
    struct ScrollIndicator {
        CGRect track;
        CGRect knob;
    };
    std::optional<ScrollIndicator> verticalIndicator(UIScrollView& view);
    bool indicatorShown(const UIScrollView& view);
    void drawScrollIndicator(UIScrollView& view, cairo_t* cr);
    // Where a press at the point (in the bounds) holds the knob, from the knob's top; none when
    // it misses it.
    std::optional<CGFloat> indicatorGrab(UIScrollView& view, CGPoint point);
    // Puts the knob's top at the height, the content following in proportion.
    void moveIndicator(UIScrollView& view, CGFloat knobTop);
    // Zooms the scroll view by the factor, the content under the point (in its bounds) staying put.
    void zoomAt(UIScrollView& view, CGPoint point, CGFloat factor);
    // Scrolls the page a web view shows; answers whether it moved.
    bool scrollWebView(UIWebView& view, CGFloat dx, CGFloat dy);
    // Scrolls the page a web view shows so that the point (in page coordinates) is at its top,
    // as far as the page goes.
    void scrollWebViewTo(UIWebView& view, CGFloat y);
    // Asks the page's renderer where the point (in the view) leads; a link there is followed
    // when the answer comes. Answers whether it asked.
    bool tapWebView(UIWebView& view, CGPoint point);
    // The toolbar item a tap at the point (in the toolbar) meets, if any.
    std::shared_ptr<UIBarButtonItem> toolbarItemAt(UIToolbar& toolbar, CGPoint point);

}

// What typing does to an editable text view, at its caret.
namespace textEditing {

    enum class Move {
        Left,
        Right,
        Up,
        Down,
        // The start or end of the line drawn, a page up or down, the start or end of the text.
        LineStart,
        LineEnd,
        PageUp,
        PageDown,
        TextStart,
        TextEnd,
    };

    void insert(UITextView& view, const std::string& text);
    void deleteBackward(UITextView& view);
    void moveCaret(UITextView& view, Move move);
    // Puts the caret where a tap at the point (in the view's bounds) meets the text.
    void placeCaret(UITextView& view, CGPoint point);

}

}
