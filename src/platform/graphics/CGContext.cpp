#include "platform/graphics/CGContext.h"

#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIImage.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform {

namespace {

    cairo_operator_t cairoOperator(CGBlendMode mode)
    {
        switch (mode) {
        case kCGBlendModeNormal:
            return CAIRO_OPERATOR_OVER;
        case kCGBlendModeMultiply:
            return CAIRO_OPERATOR_MULTIPLY;
        case kCGBlendModeScreen:
            return CAIRO_OPERATOR_SCREEN;
        case kCGBlendModeOverlay:
            return CAIRO_OPERATOR_OVERLAY;
        case kCGBlendModeDarken:
            return CAIRO_OPERATOR_DARKEN;
        case kCGBlendModeLighten:
            return CAIRO_OPERATOR_LIGHTEN;
        case kCGBlendModeColorDodge:
            return CAIRO_OPERATOR_COLOR_DODGE;
        case kCGBlendModeColorBurn:
            return CAIRO_OPERATOR_COLOR_BURN;
        case kCGBlendModeSoftLight:
            return CAIRO_OPERATOR_SOFT_LIGHT;
        case kCGBlendModeHardLight:
            return CAIRO_OPERATOR_HARD_LIGHT;
        case kCGBlendModeDifference:
            return CAIRO_OPERATOR_DIFFERENCE;
        case kCGBlendModeExclusion:
            return CAIRO_OPERATOR_EXCLUSION;
        case kCGBlendModeHue:
            return CAIRO_OPERATOR_HSL_HUE;
        case kCGBlendModeSaturation:
            return CAIRO_OPERATOR_HSL_SATURATION;
        case kCGBlendModeColor:
            return CAIRO_OPERATOR_HSL_COLOR;
        case kCGBlendModeLuminosity:
            return CAIRO_OPERATOR_HSL_LUMINOSITY;
        case kCGBlendModeClear:
            return CAIRO_OPERATOR_CLEAR;
        case kCGBlendModeCopy:
            return CAIRO_OPERATOR_SOURCE;
        case kCGBlendModeSourceIn:
            return CAIRO_OPERATOR_IN;
        case kCGBlendModeSourceOut:
            return CAIRO_OPERATOR_OUT;
        case kCGBlendModeSourceAtop:
            return CAIRO_OPERATOR_ATOP;
        case kCGBlendModeDestinationOver:
            return CAIRO_OPERATOR_DEST_OVER;
        case kCGBlendModeDestinationIn:
            return CAIRO_OPERATOR_DEST_IN;
        case kCGBlendModeDestinationOut:
            return CAIRO_OPERATOR_DEST_OUT;
        case kCGBlendModeDestinationAtop:
            return CAIRO_OPERATOR_DEST_ATOP;
        case kCGBlendModeXOR:
            return CAIRO_OPERATOR_XOR;
        case kCGBlendModePlusDarker:
            return CAIRO_OPERATOR_SATURATE;
        case kCGBlendModePlusLighter:
            return CAIRO_OPERATOR_ADD;
        }
        return CAIRO_OPERATOR_OVER;
    }

    // An image surface pattern whose user space maps the rectangle onto the whole bitmap,
    // flipped when the first row belongs at the rectangle's maximum y.
    cairo_pattern_t* imagePattern(const UIImage& image, const CGRect& rect, bool flipped, cairo_extend_t extend)
    {
        auto* pattern = cairo_pattern_create_for_surface(image.surface());
        double pw = image.pixelWidth(), ph = image.pixelHeight();
        auto r = CGRectStandardize(rect);
        cairo_matrix_t m;
        double sx = pw / r.size.width, sy = ph / r.size.height;
        if (flipped)
            cairo_matrix_init(&m, sx, 0, 0, -sy, -r.origin.x * sx, (r.origin.y + r.size.height) * sy);
        else
            cairo_matrix_init(&m, sx, 0, 0, sy, -r.origin.x * sx, -r.origin.y * sy);
        cairo_pattern_set_matrix(pattern, &m);
        cairo_pattern_set_extend(pattern, extend);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
        return pattern;
    }

    // Makes the rectangle the current cairo path.
    void setRectPath(cairo_t* cr, const CGRect& rect)
    {
        auto r = CGRectStandardize(rect);
        cairo_new_path(cr);
        cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    }

    bool usableRect(const CGRect& r)
    {
        return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width)
            && std::isfinite(r.size.height) && r.size.width != 0 && r.size.height != 0;
    }

}

CGColorSpaceRef CGColorSpaceCreateDeviceRGB()
{
    return std::make_shared<CGColorSpace>();
}

CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef&, const std::vector<std::shared_ptr<UIColor>>& colors,
    const std::vector<CGFloat>& locations)
{
    std::vector<CGGradient::Stop> stops;
    for (size_t i = 0; i < colors.size(); ++i) {
        CGGradient::Stop stop {};
        if (!colors[i] || !colors[i]->getRed(&stop.red, &stop.green, &stop.blue, &stop.alpha))
            continue;
        if (i < locations.size())
            stop.location = locations[i];
        else
            stop.location = colors.size() > 1 ? CGFloat(i) / CGFloat(colors.size() - 1) : 0;
        stops.push_back(stop);
    }
    return std::make_shared<CGGradient>(std::move(stops));
}

CGContext::CGContext(cairo_t* cairo)
    : m_cairo(cairo_reference(cairo))
{
    cairo_get_matrix(m_cairo, &m_base);
}

CGContext::~CGContext()
{
    cairo_destroy(m_cairo);
}

void CGContext::saveState()
{
    cairo_save(m_cairo);
    m_states.push_back(m_states.back());
}

void CGContext::restoreState()
{
    size_t floor = m_layerDepths.empty() ? 1 : m_layerDepths.back();
    if (m_states.size() <= floor)
        return; // unbalanced restore: keep the state, as the platform does
    m_states.pop_back();
    cairo_restore(m_cairo);
}

void CGContext::beginLayer()
{
    auto outer = state();
    saveState();
    m_layerDepths.push_back(m_states.size());
    m_layerStates.push_back(outer);
    cairo_push_group(m_cairo);
    state().alpha = 1;
    state().blendMode = kCGBlendModeNormal;
}

void CGContext::endLayer()
{
    if (m_layerDepths.empty())
        return;
    while (m_states.size() > m_layerDepths.back()) {
        m_states.pop_back();
        cairo_restore(m_cairo);
    }
    m_layerDepths.pop_back();
    auto* group = cairo_pop_group(m_cairo);
    auto outer = m_layerStates.back();
    m_layerStates.pop_back();
    m_states.pop_back();
    cairo_restore(m_cairo);
    cairo_save(m_cairo);
    cairo_set_source(m_cairo, group);
    cairo_set_operator(m_cairo, cairoOperator(outer.blendMode));
    cairo_paint_with_alpha(m_cairo, std::clamp(outer.alpha, 0.0, 1.0));
    cairo_restore(m_cairo);
    cairo_pattern_destroy(group);
}

void CGContext::setSource(const UIColor& color, CGFloat alpha)
{
    if (color.isPattern()) {
        auto& image = *color.patternImage();
        auto size = image.size();
        auto* pattern = imagePattern(image, CGRectMake(0, 0, size.width, size.height), false, CAIRO_EXTEND_REPEAT);
        cairo_set_source(m_cairo, pattern);
        cairo_pattern_destroy(pattern);
        return;
    }
    cairo_set_source_rgba(m_cairo, color.red(), color.green(), color.blue(), std::clamp(color.alpha() * alpha, 0.0, 1.0));
}

void CGContext::paintSource(const UIColor* color, CGBlendMode mode, CGFloat alpha, bool fillPath)
{
    alpha = std::clamp(alpha * state().alpha, 0.0, 1.0);
    bool pattern = color && color->isPattern();
    if (pattern && !color->patternImage()) {
        cairo_new_path(m_cairo);
        return;
    }
    cairo_save(m_cairo);
    cairo_set_operator(m_cairo, cairoOperator(mode));
    if (pattern && alpha < 1) {
        // Surface sources carry no alpha of their own: paint through a group.
        cairo_push_group(m_cairo);
        cairo_set_operator(m_cairo, CAIRO_OPERATOR_OVER);
        setSource(*color, 1);
        fillPath ? cairo_fill(m_cairo) : cairo_stroke(m_cairo);
        cairo_pop_group_to_source(m_cairo);
        cairo_paint_with_alpha(m_cairo, alpha);
    } else {
        if (color)
            setSource(*color, alpha);
        fillPath ? cairo_fill(m_cairo) : cairo_stroke(m_cairo);
    }
    cairo_restore(m_cairo);
    cairo_new_path(m_cairo);
}

void CGContext::fillCurrentPath(const UIColor* color, bool evenOdd, CGBlendMode mode, CGFloat alpha)
{
    cairo_set_fill_rule(m_cairo, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    paintSource(color, mode, alpha, true);
}

void CGContext::strokeCurrentPath(const UIColor* color, CGFloat lineWidth, CGBlendMode mode, CGFloat alpha)
{
    if (!(lineWidth > 0)) {
        // Zero width is the thinnest line the device draws: one device pixel.
        double ux = 1, uy = 0;
        cairo_device_to_user_distance(m_cairo, &ux, &uy);
        lineWidth = std::hypot(ux, uy);
    }
    cairo_set_line_width(m_cairo, lineWidth);
    paintSource(color, mode, alpha, false);
}

void CGContext::paintCurrentClip(cairo_pattern_t* pattern)
{
    cairo_save(m_cairo);
    cairo_set_source(m_cairo, pattern);
    cairo_set_operator(m_cairo, cairoOperator(state().blendMode));
    cairo_paint_with_alpha(m_cairo, std::clamp(state().alpha, 0.0, 1.0));
    cairo_restore(m_cairo);
}

CGAffineTransform CGContext::currentTransform() const
{
    // User space to base space: user -> device, then device -> base.
    cairo_matrix_t user, baseInverse = m_base, result;
    cairo_get_matrix(m_cairo, &user);
    cairo_matrix_invert(&baseInverse);
    cairo_matrix_multiply(&result, &user, &baseInverse);
    return { result.xx, result.yx, result.xy, result.yy, result.x0, result.y0 };
}

void CGContextSaveGState(CGContextRef c)
{
    if (c)
        c->saveState();
}

void CGContextRestoreGState(CGContextRef c)
{
    if (c)
        c->restoreState();
}

void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty)
{
    if (c && std::isfinite(tx) && std::isfinite(ty))
        cairo_translate(c->cairo(), tx, ty);
}

void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy)
{
    // A zero scale would leave cairo's matrix singular and the context unusable.
    if (c && sx != 0 && sy != 0 && std::isfinite(sx) && std::isfinite(sy))
        cairo_scale(c->cairo(), sx, sy);
}

void CGContextRotateCTM(CGContextRef c, CGFloat angle)
{
    if (c && std::isfinite(angle))
        cairo_rotate(c->cairo(), angle);
}

void CGContextConcatCTM(CGContextRef c, const CGAffineTransform& t)
{
    auto det = t.a * t.d - t.b * t.c;
    if (!c || det == 0 || !std::isfinite(det) || !std::isfinite(t.tx) || !std::isfinite(t.ty))
        return; // cairo would stop drawing for good on a matrix it cannot invert
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(c->cairo(), &m);
}

CGAffineTransform CGContextGetCTM(CGContextRef c)
{
    return c ? c->currentTransform() : CGAffineTransformIdentity;
}

void CGContextClipToRect(CGContextRef c, const CGRect& rect)
{
    if (!c)
        return;
    setRectPath(c->cairo(), rect);
    cairo_clip(c->cairo());
}

CGRect CGContextGetClipBoundingBox(CGContextRef c)
{
    if (!c)
        return CGRectZero;
    double x0, y0, x1, y1;
    cairo_clip_extents(c->cairo(), &x0, &y0, &x1, &y1);
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

void CGContextSetAlpha(CGContextRef c, CGFloat alpha)
{
    if (c)
        c->state().alpha = std::clamp(std::isnan(alpha) ? 1.0 : alpha, 0.0, 1.0);
}

void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode)
{
    if (c)
        c->state().blendMode = mode;
}

void CGContextSetFillColorWithColor(CGContextRef c, const std::shared_ptr<UIColor>& color)
{
    if (c && color)
        c->state().fillColor = *color;
}

void CGContextSetStrokeColorWithColor(CGContextRef c, const std::shared_ptr<UIColor>& color)
{
    if (c && color)
        c->state().strokeColor = *color;
}

void CGContextSetLineWidth(CGContextRef c, CGFloat width)
{
    if (c && width >= 0)
        c->state().lineWidth = width;
}

void CGContextFillRect(CGContextRef c, const CGRect& rect)
{
    if (!c)
        return;
    setRectPath(c->cairo(), rect);
    c->fillCurrentPath(&c->state().fillColor, false, c->state().blendMode, 1);
}

void CGContextStrokeRect(CGContextRef c, const CGRect& rect)
{
    if (!c)
        return;
    setRectPath(c->cairo(), rect);
    c->strokeCurrentPath(&c->state().strokeColor, c->state().lineWidth, c->state().blendMode, 1);
}

void CGContextFillEllipseInRect(CGContextRef c, const CGRect& rect)
{
    if (!c || !usableRect(rect))
        return;
    auto r = CGRectStandardize(rect);
    auto* cr = c->cairo();
    cairo_new_path(cr);
    cairo_save(cr);
    cairo_translate(cr, r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2);
    cairo_scale(cr, r.size.width / 2, r.size.height / 2);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
    c->fillCurrentPath(&c->state().fillColor, false, c->state().blendMode, 1);
}

void CGContextClearRect(CGContextRef c, const CGRect& rect)
{
    if (!c)
        return;
    auto* cr = c->cairo();
    cairo_save(cr);
    setRectPath(cr, rect);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_fill(cr);
    cairo_restore(cr);
}

void CGContextBeginTransparencyLayer(CGContextRef c, const void*)
{
    if (c)
        c->beginLayer();
}

void CGContextEndTransparencyLayer(CGContextRef c)
{
    if (c)
        c->endLayer();
}

namespace {

    void addStops(cairo_pattern_t* pattern, const CGGradient& gradient)
    {
        for (auto& stop : gradient.stops())
            cairo_pattern_add_color_stop_rgba(pattern, std::clamp(stop.location, 0.0, 1.0), stop.red, stop.green, stop.blue,
                std::clamp(stop.alpha, 0.0, 1.0));
    }

    // Clips to the half-plane on the given side of the line through `through`, perpendicular
    // to the direction d: keep the points p with (p - through) . d <= 0.
    void clipToHalfPlane(cairo_t* cr, CGPoint through, CGPoint d)
    {
        double x0, y0, x1, y1;
        cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
        double reach = std::hypot(x1 - x0, y1 - y0) + std::hypot(through.x - x0, through.y - y0) + 1;
        double len = std::hypot(d.x, d.y);
        double ux = d.x / len, uy = d.y / len; // along d
        double px = -uy, py = ux; // across d
        cairo_new_path(cr);
        cairo_move_to(cr, through.x + px * reach, through.y + py * reach);
        cairo_line_to(cr, through.x - px * reach, through.y - py * reach);
        cairo_line_to(cr, through.x - px * reach - ux * reach, through.y - py * reach - uy * reach);
        cairo_line_to(cr, through.x + px * reach - ux * reach, through.y + py * reach - uy * reach);
        cairo_close_path(cr);
        cairo_clip(cr);
    }

}

void CGContextDrawLinearGradient(CGContextRef c, const CGGradientRef& gradient, CGPoint start, CGPoint end,
    CGGradientDrawingOptions options)
{
    if (!c || !gradient || gradient->stops().empty())
        return;
    CGPoint d { end.x - start.x, end.y - start.y };
    if (!std::isfinite(d.x) || !std::isfinite(d.y) || (d.x == 0 && d.y == 0))
        return;
    auto* cr = c->cairo();
    bool before = options & kCGGradientDrawsBeforeStartLocation;
    bool after = options & kCGGradientDrawsAfterEndLocation;
    auto* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
    addStops(pattern, *gradient);
    // Without the options nothing is painted beyond either end; cairo would pad.
    cairo_pattern_set_extend(pattern, (before || after) ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
    cairo_save(cr);
    if (before && !after)
        clipToHalfPlane(cr, end, d);
    else if (after && !before)
        clipToHalfPlane(cr, start, { -d.x, -d.y });
    c->paintCurrentClip(pattern);
    cairo_restore(cr);
    cairo_pattern_destroy(pattern);
}

void CGContextDrawRadialGradient(CGContextRef c, const CGGradientRef& gradient, CGPoint startCenter, CGFloat startRadius,
    CGPoint endCenter, CGFloat endRadius, CGGradientDrawingOptions options)
{
    if (!c || !gradient || gradient->stops().empty() || !(startRadius >= 0) || !(endRadius >= 0))
        return;
    auto* cr = c->cairo();
    bool before = options & kCGGradientDrawsBeforeStartLocation;
    bool after = options & kCGGradientDrawsAfterEndLocation;
    auto* pattern = cairo_pattern_create_radial(startCenter.x, startCenter.y, startRadius, endCenter.x, endCenter.y, endRadius);
    addStops(pattern, *gradient);
    cairo_pattern_set_extend(pattern, (before || after) ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
    cairo_save(cr);
    cairo_new_path(cr);
    if (before && !after) {
        cairo_arc(cr, endCenter.x, endCenter.y, endRadius, 0, 2 * M_PI);
        cairo_clip(cr);
    } else if (after && !before) {
        double x0, y0, x1, y1;
        cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        cairo_new_sub_path(cr);
        cairo_arc(cr, startCenter.x, startCenter.y, startRadius, 0, 2 * M_PI);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_clip(cr);
    }
    c->paintCurrentClip(pattern);
    cairo_restore(cr);
    cairo_pattern_destroy(pattern);
}

void CGContext::paintImage(const UIImage& image, const CGRect& placement, bool flipped, bool tiled, const CGRect* clip)
{
    if (image.pixelWidth() == 0 || image.pixelHeight() == 0 || !usableRect(placement))
        return;
    auto* pattern = imagePattern(image, CGRectStandardize(placement), flipped, tiled ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
    cairo_save(m_cairo);
    if (clip) {
        setRectPath(m_cairo, *clip);
        cairo_clip(m_cairo);
    }
    paintCurrentClip(pattern);
    cairo_restore(m_cairo);
    cairo_pattern_destroy(pattern);
}

void CGContextDrawImage(CGContextRef c, const CGRect& rect, const std::shared_ptr<UIImage>& image)
{
    if (c && image)
        c->paintImage(*image, rect, true, false, &rect);
}

void CGContextDrawTiledImage(CGContextRef c, const CGRect& tile, const std::shared_ptr<UIImage>& image)
{
    if (c && image)
        c->paintImage(*image, tile, true, true, nullptr);
}

}
