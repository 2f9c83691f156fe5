#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIFont.h"
#include "platform/graphics/UIImage.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

class UIView;
class UIWindow;
class UIViewController;

// The animations begun on a view; removing them ends them early (their completions hear
// "not finished").
class CALayer {
public:
    explicit CALayer(UIView& view)
        : m_view(view)
    {
    }
    void removeAllAnimations();
    std::size_t animationCount() const;

    // Drawing: rounded corners, a border drawn inside the bounds, and whether what the
    // subviews draw is cut at the (rounded) bounds.
    CGFloat cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(CGFloat radius);
    CGFloat borderWidth() const { return m_borderWidth; }
    void setBorderWidth(CGFloat width);
    std::shared_ptr<UIColor> borderColor() const { return m_borderColor; }
    void setBorderColor(std::shared_ptr<UIColor> color);
    bool masksToBounds() const { return m_masksToBounds; }
    void setMasksToBounds(bool masks);
    // What is on screen while an animation runs: the values on the way from the start to the
    // end, on the main run loop's clock; the view's own values otherwise.
    CGRect presentationFrame() const;
    CGFloat presentationOpacity() const;
    std::shared_ptr<UIColor> presentationBackgroundColor() const;

private:
    UIView& m_view;
    CGFloat m_cornerRadius = 0;
    CGFloat m_borderWidth = 0;
    std::shared_ptr<UIColor> m_borderColor;
    bool m_masksToBounds = false;
};

class UIGestureRecognizer {
public:
    using Action = std::function<void(UIGestureRecognizer&)>;
    explicit UIGestureRecognizer(Action action);
    virtual ~UIGestureRecognizer() = default;

    std::shared_ptr<UIView> view() const { return m_view.lock(); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // What a recognised gesture does: runs the action.
    void recognize();

private:
    friend class UIView;
    Action m_action;
    std::weak_ptr<UIView> m_view;
    bool m_enabled = true;
};

class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    using UIGestureRecognizer::UIGestureRecognizer;
    int numberOfTapsRequired = 1;
};

class UILongPressGestureRecognizer : public UIGestureRecognizer {
public:
    using UIGestureRecognizer::UIGestureRecognizer;
    double minimumPressDuration = 0.5;
};

// How a view follows its superview's size: the flexible parts share the change in proportion
// to their lengths; the others keep theirs.
enum class UIViewAutoresizing : unsigned {
    None = 0,
    FlexibleLeftMargin = 1 << 0,
    FlexibleWidth = 1 << 1,
    FlexibleRightMargin = 1 << 2,
    FlexibleTopMargin = 1 << 3,
    FlexibleHeight = 1 << 4,
    FlexibleBottomMargin = 1 << 5,
};
constexpr UIViewAutoresizing operator|(UIViewAutoresizing a, UIViewAutoresizing b)
{
    return static_cast<UIViewAutoresizing>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool operator&(UIViewAutoresizing a, UIViewAutoresizing b)
{
    return (static_cast<unsigned>(a) & static_cast<unsigned>(b)) != 0;
}

// A view: geometry, hierarchy, colours and gestures. It draws itself in its bounds (drawRect)
// when the window is drawn; changes mark the screen for redrawing.
class UIView : public std::enable_shared_from_this<UIView> {
public:
    UIView();
    explicit UIView(CGRect frame);
    virtual ~UIView();
    UIView(const UIView&) = delete;
    UIView& operator=(const UIView&) = delete;

    CGRect frame() const { return m_frame; }
    void setFrame(CGRect frame);
    CGRect bounds() const { return { {}, m_frame.size }; }
    CGPoint center() const;
    void setCenter(CGPoint center);

    UIViewAutoresizing autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(UIViewAutoresizing mask) { m_autoresizingMask = mask; }

    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden);
    CGFloat alpha() const { return m_alpha; }
    void setAlpha(CGFloat alpha);
    std::shared_ptr<UIColor> backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(std::shared_ptr<UIColor> color);
    std::shared_ptr<UIColor> tintColor() const { return m_tintColor; }
    void setTintColor(std::shared_ptr<UIColor> color)
    {
        m_tintColor = std::move(color);
        setNeedsDisplay();
    }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    bool isUserInteractionEnabled() const { return m_userInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { m_userInteractionEnabled = enabled; }
    bool clipsToBounds() const { return m_layer.masksToBounds(); }
    void setClipsToBounds(bool clips) { m_layer.setMasksToBounds(clips); }

    std::shared_ptr<UIView> superview() const { return m_superview ? m_superview->weak_from_this().lock() : nullptr; }
    const std::vector<std::shared_ptr<UIView>>& subviews() const { return m_subviews; }
    void addSubview(const std::shared_ptr<UIView>& view);
    void insertSubviewAtIndex(const std::shared_ptr<UIView>& view, std::size_t index);
    void removeFromSuperview();
    void bringSubviewToFront(const std::shared_ptr<UIView>& view);
    void sendSubviewToBack(const std::shared_ptr<UIView>& view);
    bool isDescendantOfView(const UIView& view) const;
    // The window the view is in, if any.
    std::shared_ptr<UIWindow> window() const;
    std::shared_ptr<UIView> viewWithTag(int tag);
    // A rectangle in this view's coordinates given in those of another view of the same
    // tree, or of the root of the tree when the view is null.
    CGRect convertRectToView(CGRect rect, const UIView* view) const;

    void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return m_gestureRecognizers; }

    CALayer& layer() { return m_layer; }

    virtual void layoutSubviews() { }
    void setNeedsLayout() { }
    // Marks the screen for redrawing; any thread.
    void setNeedsDisplay();
    void layoutIfNeeded() { layoutSubviews(); }
    // Draws the view's own content into the current context, in its bounds; the background,
    // the layer's border and the subviews are drawn around it.
    virtual void drawRect(CGRect rect);

    // The deepest visible, interactive view at the point (in this view's bounds), or none.
    virtual std::shared_ptr<UIView> hitTest(CGPoint point);
    bool pointInside(CGPoint point) const { return point.x >= 0 && point.y >= 0 && point.x < m_frame.size.width && point.y < m_frame.size.height; }
    // Whether an animation begun with animateWithDuration is still under way.
    static bool areAnimationsRunning();

    // Sets the final values at once; the completion runs on the main run loop when the
    // duration has passed on its clock (finished = true), or at once with false when the
    // view's animations are removed first.
    static void animateWithDuration(double duration, const std::function<void()>& animations,
        std::function<void(bool finished)> completion = {});
    static void animateWithDuration(double duration, double delay, const std::function<void()>& animations,
        std::function<void(bool finished)> completion);

protected:
    // Setters that animate call this so an enclosing animation knows the view takes part.
    void noteAnimatedChange();

private:
    friend class CALayer;
    CGRect m_frame {};
    UIViewAutoresizing m_autoresizingMask = UIViewAutoresizing::None;
    bool m_hidden = false;
    CGFloat m_alpha = 1;
    std::shared_ptr<UIColor> m_backgroundColor;
    std::shared_ptr<UIColor> m_tintColor;
    int m_tag = 0;
    bool m_userInteractionEnabled = true;
    // Plain pointer: a view that adds subviews while it is being made has no shared owner yet.
    // A view clears its subviews' links when it ends.
    UIView* m_superview = nullptr;
    std::vector<std::shared_ptr<UIView>> m_subviews;
    std::vector<std::shared_ptr<UIGestureRecognizer>> m_gestureRecognizers;
    CALayer m_layer { *this };
};

enum class NSTextAlignment {
    Left,
    Center,
    Right,
    Justified,
    Natural,
};

enum class NSLineBreakMode {
    ByWordWrapping,
    ByCharWrapping,
    ByClipping,
    ByTruncatingHead,
    ByTruncatingTail,
    ByTruncatingMiddle,
};

class UILabel : public UIView {
public:
    using UIView::UIView;

    const std::optional<std::string>& text() const { return m_text; }
    void setText(std::optional<std::string> text);
    std::shared_ptr<UIFont> font() const;
    void setFont(std::shared_ptr<UIFont> font);
    std::shared_ptr<UIColor> textColor() const;
    void setTextColor(std::shared_ptr<UIColor> color);
    NSTextAlignment textAlignment() const { return m_textAlignment; }
    void setTextAlignment(NSTextAlignment alignment);
    int numberOfLines() const { return m_numberOfLines; }
    void setNumberOfLines(int lines);
    NSLineBreakMode lineBreakMode() const { return m_lineBreakMode; }
    void setLineBreakMode(NSLineBreakMode mode);
    bool adjustsFontSizeToFitWidth() const { return m_adjustsFontSize; }
    void setAdjustsFontSizeToFitWidth(bool adjusts);
    // The font and colour that stand in for unset ones: what a cell style gives its labels.
    void setStyleDefaults(std::shared_ptr<UIFont> font, std::shared_ptr<UIColor> color);
    void drawRect(CGRect rect) override;

private:
    std::optional<std::string> m_text;
    std::shared_ptr<UIFont> m_font;
    std::shared_ptr<UIColor> m_textColor;
    std::shared_ptr<UIFont> m_styleFont;
    std::shared_ptr<UIColor> m_styleColor;
    NSTextAlignment m_textAlignment = NSTextAlignment::Natural;
    int m_numberOfLines = 1;
    NSLineBreakMode m_lineBreakMode = NSLineBreakMode::ByTruncatingTail;
    bool m_adjustsFontSize = false;
};

enum class UIViewContentMode {
    ScaleToFill,
    ScaleAspectFit,
    ScaleAspectFill,
    Redraw,
    Center,
    Top,
    Bottom,
    Left,
    Right,
};

class UIImageView : public UIView, public UIImageSettable {
public:
    using UIView::UIView;
    explicit UIImageView(std::shared_ptr<UIImage> image);

    std::shared_ptr<UIImage> image() const { return m_image; }
    void setImage(std::shared_ptr<UIImage> image) override;
    UIViewContentMode contentMode() const { return m_contentMode; }
    void setContentMode(UIViewContentMode mode);
    void drawRect(CGRect rect) override;

    // Frame animation: the images shown in turn over animationDuration seconds.
    const std::vector<std::shared_ptr<UIImage>>& animationImages() const { return m_animationImages; }
    void setAnimationImages(std::vector<std::shared_ptr<UIImage>> images) { m_animationImages = std::move(images); }
    double animationDuration() const { return m_animationDuration; }
    void setAnimationDuration(double seconds) { m_animationDuration = seconds; }
    int animationRepeatCount() const { return m_animationRepeatCount; }
    void setAnimationRepeatCount(int count) { m_animationRepeatCount = count; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animating; }

private:
    std::shared_ptr<UIImage> m_image;
    UIViewContentMode m_contentMode = UIViewContentMode::ScaleToFill;
    std::vector<std::shared_ptr<UIImage>> m_animationImages;
    double m_animationDuration = 0;
    int m_animationRepeatCount = 0;
    bool m_animating = false;
    double m_animationStart = 0; // on the main run loop's clock, in seconds
};

class UIWindow : public UIView {
public:
    using UIView::UIView;

    std::shared_ptr<UIViewController> rootViewController() const { return m_rootViewController; }
    // Puts the controller's view in the window.
    void setRootViewController(std::shared_ptr<UIViewController> controller);
    // Makes this the application's key window.
    void makeKeyAndVisible();
    bool isKeyWindow() const;

private:
    std::shared_ptr<UIViewController> m_rootViewController;
};

}
