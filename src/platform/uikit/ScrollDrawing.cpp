#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/TextBlock.h"
#include "platform/uikit/UITextView.h"

#include "platform/foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    // The platform's text container: 8 points above and below, lines 5 points in from the sides.
    constexpr CGFloat insetTop = 8;
    constexpr CGFloat padding = 5;

    // The text of a view laid out at its width, its content size following the text.
    TextBlock& layoutOf(UITextView& view)
    {
        auto& block = view.laidOutText();
        auto width = std::max(1.0, view.frame().size.width - 2 * padding);
        block.update(view.textBuffer(), view.font(), width);
        view.setContentSize(CGSizeMake(view.frame().size.width, block.height() + 2 * insetTop));
        return block;
    }

    CGPoint clampedOffset(UIScrollView& view, CGPoint offset)
    {
        auto size = view.frame().size;
        auto content = view.contentSize();
        auto insets = view.contentInset();
        auto maxX = std::max(-insets.left, content.width + insets.right - size.width);
        auto maxY = std::max(-insets.top, content.height + insets.bottom - size.height);
        return { std::clamp(offset.x, -insets.left, maxX), std::clamp(offset.y, -insets.top, maxY) };
    }

    // Scrolls just enough for the caret to show above the bottom inset (the keyboard's room).
    void revealCaret(UITextView& view)
    {
        auto caret = layoutOf(view).caretRect(view.caretOffset()).offsetBy(padding, insetTop);
        auto offset = view.contentOffset();
        auto visible = view.frame().size.height - view.contentInset().bottom;
        if (caret.origin.y < offset.y)
            offset.y = caret.origin.y - insetTop;
        else if (CGRectGetMaxY(caret) > offset.y + visible)
            offset.y = CGRectGetMaxY(caret) + insetTop - visible;
        view.setContentOffset(clampedOffset(view, offset));
    }

    bool editable(UITextView& view)
    {
        return view.isEditable() && view.isFirstResponder();
    }

}

TextBlock& UITextView::laidOutText()
{
    if (!m_laidOut)
        m_laidOut = std::make_shared<TextBlock>();
    return *m_laidOut;
}

void UITextView::drawRect(CGRect rect)
{
    auto* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    auto* cr = context->cairo();
    auto& block = layoutOf(*this);
    auto offset = contentOffset();
    // Heights measured now move what follows them: the lines at the top stay where they were,
    // and a view scrolled to the end stays at the end.
    bool atEnd = offset.y >= clampedOffset(*this, { offset.x, INFINITY }).y;
    for (int round = 0; round < 4; ++round) {
        auto top = offset.y - insetTop;
        auto moved = block.settle(top, top + rect.size.height);
        setContentSize(CGSizeMake(frame().size.width, block.height() + 2 * insetTop));
        auto settled = clampedOffset(*this, { offset.x, atEnd ? INFINITY : offset.y + moved });
        if (settled == offset)
            break;
        offset = settled;
    }
    if (offset != contentOffset())
        setContentOffset(offset);
    auto top = offset.y - insetTop;
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, rect.size.width, rect.size.height);
    cairo_clip(cr);
    cairo_translate(cr, padding - offset.x, 0);
    block.draw(cr, top, top + rect.size.height, *textColor());
    if (isFirstResponder() && isEditable())
        drawing::fillRect(cr, block.caretRect(caretOffset()).offsetBy(0, -top), drawing::tintOf(*this));
    cairo_restore(cr);
}

namespace {

    // The indicator as the phone draws it: a thin bar 3 points in from the edge, shown for a
    // second after the content last moved.
    constexpr CGFloat indicatorThickness = 3;
    constexpr CGFloat indicatorMargin = 3;
    constexpr CGFloat shortestKnob = 36;
    constexpr double indicatorShownFor = 1.0;
    // A pointer this close to the edge takes the indicator, so it can be grabbed with a mouse.
    constexpr CGFloat indicatorGrabWidth = 24;
    constexpr CGFloat indicatorGrabSlop = 8;

    // A text view's content size follows its text only once laid out.
    void refreshContent(UIScrollView& view)
    {
        if (auto* text = dynamic_cast<UITextView*>(&view))
            layoutOf(*text);
    }

    std::pair<CGFloat, CGFloat> verticalRange(UIScrollView& view)
    {
        auto insets = view.contentInset();
        auto bottom = std::max(-insets.top, view.contentSize().height + insets.bottom - view.frame().size.height);
        return { -insets.top, bottom };
    }

}

std::optional<drawing::ScrollIndicator> drawing::verticalIndicator(UIScrollView& view)
{
    if (!view.showsVerticalScrollIndicator())
        return std::nullopt;
    refreshContent(view);
    auto size = view.frame().size;
    auto [top, bottom] = verticalRange(view);
    auto insets = view.scrollIndicatorInsets();
    auto trackTop = insets.top + indicatorMargin;
    auto trackLength = size.height - insets.bottom - indicatorMargin - trackTop;
    if (bottom <= top || trackLength < indicatorMargin || size.width < indicatorGrabWidth)
        return std::nullopt;
    auto seen = size.height / (bottom - top + size.height);
    auto knobLength = std::min(trackLength, std::max(shortestKnob, trackLength * seen));
    auto fraction = std::clamp((view.contentOffset().y - top) / (bottom - top), 0.0, 1.0);
    auto x = size.width - indicatorMargin - indicatorThickness;
    return ScrollIndicator {
        CGRectMake(x, trackTop, indicatorThickness, trackLength),
        CGRectMake(x, trackTop + fraction * (trackLength - knobLength), indicatorThickness, knobLength),
    };
}

bool drawing::indicatorShown(const UIScrollView& view)
{
    auto flash = view.lastIndicatorFlash();
    return flash && RunLoop::main().clock().now() - *flash < secondsToDuration(indicatorShownFor);
}

void drawing::drawScrollIndicator(UIScrollView& view, cairo_t* cr)
{
    // Drawn again when it is due to go.
    drawing::watch([weak = view.weak_from_this()] {
        auto scroll = std::dynamic_pointer_cast<UIScrollView>(weak.lock());
        return std::size_t(scroll && indicatorShown(*scroll));
    });
    if (!indicatorShown(view))
        return;
    auto indicator = verticalIndicator(view);
    if (!indicator)
        return;
    roundedRectPath(cr, indicator->knob, indicatorThickness / 2);
    setColor(cr, UIColor(0, 0, 0, 0.35));
    cairo_fill(cr);
}

std::optional<CGFloat> drawing::indicatorGrab(UIScrollView& view, CGPoint point)
{
    auto indicator = verticalIndicator(view);
    if (!indicator || point.x < view.frame().size.width - indicatorGrabWidth)
        return std::nullopt;
    auto& knob = indicator->knob;
    if (point.y < knob.origin.y - indicatorGrabSlop || point.y > CGRectGetMaxY(knob) + indicatorGrabSlop)
        return std::nullopt;
    return point.y - knob.origin.y;
}

void drawing::moveIndicator(UIScrollView& view, CGFloat knobTop)
{
    auto indicator = verticalIndicator(view);
    if (!indicator)
        return;
    auto travel = indicator->track.size.height - indicator->knob.size.height;
    auto fraction = travel > 0 ? std::clamp((knobTop - indicator->track.origin.y) / travel, 0.0, 1.0) : 0.0;
    auto [top, bottom] = verticalRange(view);
    // The ends exactly: a text view held at its end stays there as its lines are measured.
    auto y = fraction >= 1 ? INFINITY : top + fraction * (bottom - top);
    view.setContentOffset(clampedOffset(view, { view.contentOffset().x, y }));
    view.flashScrollIndicators();
}

bool drawing::scrollTo(UIScrollView& view, CGFloat y)
{
    refreshContent(view);
    auto before = view.contentOffset();
    auto after = clampedOffset(view, { before.x, y });
    view.flashScrollIndicators();
    if (after == before)
        return false;
    view.setContentOffset(after);
    return true;
}

bool drawing::scrollBy(UIScrollView& view, CGFloat dx, CGFloat dy)
{
    refreshContent(view);
    if (dx != 0 || dy != 0)
        view.flashScrollIndicators();
    auto before = view.contentOffset();
    auto after = clampedOffset(view, { before.x + dx, before.y + dy });
    if (after == before)
        return false;
    view.setContentOffset(after);
    return true;
}

void drawing::zoomAt(UIScrollView& view, CGPoint point, CGFloat factor)
{
    auto before = view.zoomScale();
    auto offset = view.contentOffset();
    view.pinch(factor);
    auto ratio = view.zoomScale() / before;
    if (ratio == 1 || !std::isfinite(ratio))
        return;
    // The content point under the pointer moves with the scale; the offset follows it.
    CGPoint content { (point.x + offset.x) * ratio, (point.y + offset.y) * ratio };
    view.setContentOffset(clampedOffset(view, { content.x - point.x, content.y - point.y }));
}

void textEditing::insert(UITextView& view, const std::string& text)
{
    if (!editable(view) || text.empty())
        return;
    auto caret = std::min(view.caretOffset(), view.text().size());
    std::string changed(view.text());
    changed.insert(caret, text);
    view.typeText(std::move(changed));
    view.setCaretOffset(caret + text.size());
    revealCaret(view);
}

void textEditing::deleteBackward(UITextView& view)
{
    if (!editable(view) || view.caretOffset() == 0)
        return;
    auto caret = std::min(view.caretOffset(), view.text().size());
    auto start = caret;
    // One character: the last UTF-8 sequence before the caret, continuation bytes and all.
    do
        --start;
    while (start > 0 && (static_cast<unsigned char>(view.text()[start]) & 0xC0) == 0x80);
    std::string changed(view.text());
    changed.erase(start, caret - start);
    view.typeText(std::move(changed));
    view.setCaretOffset(start);
    revealCaret(view);
}

void textEditing::moveCaret(UITextView& view, Move move)
{
    if (!editable(view))
        return;
    auto& block = layoutOf(view);
    auto caret = view.caretOffset();
    switch (move) {
    case Move::Left:
    case Move::Right:
        view.setCaretOffset(block.step(caret, move == Move::Right));
        break;
    case Move::Up:
    case Move::Down: {
        auto place = block.caretRect(caret);
        auto y = move == Move::Up ? place.origin.y - 1 : CGRectGetMaxY(place) + 1;
        view.setCaretOffset(block.offsetAtPoint({ place.origin.x, y }));
        break;
    }
    case Move::LineStart:
    case Move::LineEnd: {
        auto place = block.caretRect(caret);
        auto x = move == Move::LineStart ? 0.0 : std::max(0.0, view.frame().size.width - 2 * padding);
        view.setCaretOffset(block.offsetAtPoint({ x, CGRectGetMidY(place) }));
        break;
    }
    case Move::PageUp:
    case Move::PageDown: {
        auto place = block.caretRect(caret);
        auto page = std::max(place.size.height, view.frame().size.height - view.contentInset().top - view.contentInset().bottom - place.size.height);
        auto y = CGRectGetMidY(place) + (move == Move::PageUp ? -page : page);
        view.setCaretOffset(y < 0 ? 0 : block.offsetAtPoint({ place.origin.x, y }));
        break;
    }
    case Move::TextStart:
        view.setCaretOffset(0);
        break;
    case Move::TextEnd:
        view.setCaretOffset(view.text().size());
        break;
    }
    revealCaret(view);
}

void textEditing::placeCaret(UITextView& view, CGPoint point)
{
    if (!editable(view))
        return;
    auto offset = view.contentOffset();
    view.setCaretOffset(layoutOf(view).offsetAtPoint({ point.x + offset.x - padding, point.y + offset.y - insetTop }));
}

}
