#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

#include <cairo.h>
#include <memory>
#include <vector>

namespace vesk::platform {

class UIImage;

enum CGLineCap { kCGLineCapButt,
    kCGLineCapRound,
    kCGLineCapSquare };

enum CGLineJoin { kCGLineJoinMiter,
    kCGLineJoinRound,
    kCGLineJoinBevel };

enum CGBlendMode {
    kCGBlendModeNormal,
    kCGBlendModeMultiply,
    kCGBlendModeScreen,
    kCGBlendModeOverlay,
    kCGBlendModeDarken,
    kCGBlendModeLighten,
    kCGBlendModeColorDodge,
    kCGBlendModeColorBurn,
    kCGBlendModeSoftLight,
    kCGBlendModeHardLight,
    kCGBlendModeDifference,
    kCGBlendModeExclusion,
    kCGBlendModeHue,
    kCGBlendModeSaturation,
    kCGBlendModeColor,
    kCGBlendModeLuminosity,
    kCGBlendModeClear,
    kCGBlendModeCopy,
    kCGBlendModeSourceIn,
    kCGBlendModeSourceOut,
    kCGBlendModeSourceAtop,
    kCGBlendModeDestinationOver,
    kCGBlendModeDestinationIn,
    kCGBlendModeDestinationOut,
    kCGBlendModeDestinationAtop,
    kCGBlendModeXOR,
    kCGBlendModePlusDarker,
    kCGBlendModePlusLighter,
};

enum CGGradientDrawingOptions : unsigned {
    kCGGradientDrawsNone = 0,
    kCGGradientDrawsBeforeStartLocation = 1 << 0,
    kCGGradientDrawsAfterEndLocation = 1 << 1,
};
inline CGGradientDrawingOptions operator|(CGGradientDrawingOptions a, CGGradientDrawingOptions b)
{
    return CGGradientDrawingOptions(unsigned(a) | unsigned(b));
}

// Only device RGB exists; the type keeps call sites reading as they do on the platform.
struct CGColorSpace { };
using CGColorSpaceRef = std::shared_ptr<CGColorSpace>;
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();

// Colour stops: colours with their locations from 0 to 1 (spread evenly when none are given).
class CGGradient {
public:
    struct Stop {
        CGFloat location;
        CGFloat red, green, blue, alpha;
    };
    explicit CGGradient(std::vector<Stop> stops)
        : m_stops(std::move(stops))
    {
    }
    const std::vector<Stop>& stops() const { return m_stops; }

private:
    std::vector<Stop> m_stops;
};
using CGGradientRef = std::shared_ptr<CGGradient>;

// Pattern colours have no components and are skipped.
CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef& space, const std::vector<std::shared_ptr<UIColor>>& colors,
    const std::vector<CGFloat>& locations = {});

// A drawing destination over a cairo context: the graphics state stack (transform, clip,
// fill and stroke colours, alpha, blend mode) and transparency layers. Made by the image
// context functions of UIGraphics.h (or over any cairo context, for views).
class CGContext {
public:
    explicit CGContext(cairo_t* cairo); // takes a reference of its own
    ~CGContext();
    CGContext(const CGContext&) = delete;
    CGContext& operator=(const CGContext&) = delete;

    cairo_t* cairo() const { return m_cairo; }

    struct State {
        UIColor fillColor { 0, 0, 0, 1 };
        UIColor strokeColor { 0, 0, 0, 1 };
        CGFloat alpha = 1;
        CGBlendMode blendMode = kCGBlendModeNormal;
        CGFloat lineWidth = 1;
    };
    State& state() { return m_states.back(); }
    void saveState();
    void restoreState();
    void beginLayer();
    void endLayer();

    // Sets the cairo source to a colour (a pattern colour tiles its image) with the given alpha.
    void setSource(const UIColor& color, CGFloat alpha);
    // Paint the current cairo path (then clear it) with the colour, blend mode and the
    // given alpha times the state's alpha.
    void fillCurrentPath(const UIColor* color, bool evenOdd, CGBlendMode mode, CGFloat alpha);
    void strokeCurrentPath(const UIColor* color, CGFloat lineWidth, CGBlendMode mode, CGFloat alpha);
    // Paints the pattern over the whole clip area with the state's alpha and blend mode.
    void paintCurrentClip(cairo_pattern_t* pattern);
    // Paints the bitmap stretched onto the placement rectangle (its first row at the top, or at
    // the bottom when flipped), repeated across the clip when tiled, else once; limited to the
    // extra clip rectangle when one is given.
    void paintImage(const UIImage& image, const CGRect& placement, bool flipped, bool tiled, const CGRect* clip);
    // User space to base space (points, y down).
    CGAffineTransform currentTransform() const;

private:
    void paintSource(const UIColor* color, CGBlendMode mode, CGFloat alpha, bool fillPath);

    cairo_t* m_cairo;
    cairo_matrix_t m_base;
    std::vector<State> m_states { State {} };
    std::vector<size_t> m_layerDepths;
    std::vector<State> m_layerStates;
};
using CGContextRef = CGContext*;

void CGContextSaveGState(CGContextRef);
void CGContextRestoreGState(CGContextRef);
void CGContextTranslateCTM(CGContextRef, CGFloat tx, CGFloat ty);
void CGContextScaleCTM(CGContextRef, CGFloat sx, CGFloat sy);
void CGContextRotateCTM(CGContextRef, CGFloat angle);
void CGContextConcatCTM(CGContextRef, const CGAffineTransform&);
// User space to the context's base space (points, y down).
CGAffineTransform CGContextGetCTM(CGContextRef);
void CGContextClipToRect(CGContextRef, const CGRect&);
CGRect CGContextGetClipBoundingBox(CGContextRef);
void CGContextSetAlpha(CGContextRef, CGFloat alpha);
void CGContextSetBlendMode(CGContextRef, CGBlendMode);
void CGContextSetFillColorWithColor(CGContextRef, const std::shared_ptr<UIColor>&);
void CGContextSetStrokeColorWithColor(CGContextRef, const std::shared_ptr<UIColor>&);
void CGContextSetLineWidth(CGContextRef, CGFloat width);
void CGContextFillRect(CGContextRef, const CGRect&);
void CGContextStrokeRect(CGContextRef, const CGRect&);
void CGContextFillEllipseInRect(CGContextRef, const CGRect&);
// Makes the rectangle fully transparent.
void CGContextClearRect(CGContextRef, const CGRect&);
// Everything drawn until the matching end is composited as one group, with the alpha and
// blend mode in force at the begin.
void CGContextBeginTransparencyLayer(CGContextRef, const void* auxiliaryInfo);
void CGContextEndTransparencyLayer(CGContextRef);
// Fills the clip area with the gradient between the two points; beyond the ends only as the
// options allow.
void CGContextDrawLinearGradient(CGContextRef, const CGGradientRef&, CGPoint startPoint, CGPoint endPoint,
    CGGradientDrawingOptions options);
void CGContextDrawRadialGradient(CGContextRef, const CGGradientRef&, CGPoint startCenter, CGFloat startRadius,
    CGPoint endCenter, CGFloat endRadius, CGGradientDrawingOptions options);
// Draws the image into the rectangle the way the platform's image drawing does: its first
// row at the rectangle's maximum y, so it shows upside down unless the context is flipped.
void CGContextDrawImage(CGContextRef, const CGRect&, const std::shared_ptr<UIImage>&);
// Repeats that image drawing across the whole clip area, one tile per rectangle's size,
// tile edges lined up with the rectangle.
void CGContextDrawTiledImage(CGContextRef, const CGRect& tile, const std::shared_ptr<UIImage>&);

}
