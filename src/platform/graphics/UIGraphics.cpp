#include "platform/graphics/UIGraphics.h"

#include "platform/graphics/ImageDecoding.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace vesk::platform {

namespace {

    struct SurfaceRelease {
        void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
    };

    struct Entry {
        // Declared before the context, so the context lets go of the surface first.
        std::unique_ptr<cairo_surface_t, SurfaceRelease> surfaceOwner;
        std::unique_ptr<CGContext> owned; // image contexts
        CGContextRef context = nullptr;
        cairo_surface_t* surface = nullptr;
        CGFloat scale = 1;
        bool isImageContext = false;
    };

    thread_local std::vector<Entry> t_stack;

    constexpr double kMaxPixelsPerSide = 32767;

    int pixelCount(CGFloat points, CGFloat scale)
    {
        double pixels = points * scale;
        if (!std::isfinite(pixels) || pixels <= 0)
            return 0;
        // Sizes like 40 x 2.0000000001 stay 80 pixels.
        pixels = std::ceil(pixels - 1e-6);
        return pixels > kMaxPixelsPerSide ? -1 : int(pixels);
    }

}

void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale)
{
    if (!(scale > 0) || !std::isfinite(scale))
        scale = UIScreen::mainScreen().scale();
    int w = pixelCount(size.width, scale), h = pixelCount(size.height, scale);
    // An unusable size still opens a context (one that draws nothing), so that begin and
    // end stay paired; taking an image from it gives none.
    cairo_surface_t* surface = (w > 0 && h > 0) ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)
                                                : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 0, 0);
    auto* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    if (opaque) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_paint(cr);
    }
    Entry entry;
    entry.owned = std::make_unique<CGContext>(cr);
    entry.context = entry.owned.get();
    entry.surface = surface;
    entry.surfaceOwner.reset(surface);
    entry.scale = scale;
    entry.isImageContext = true;
    cairo_destroy(cr);
    t_stack.push_back(std::move(entry));
}

void UIGraphicsBeginImageContext(CGSize size)
{
    UIGraphicsBeginImageContextWithOptions(size, false, 1);
}

std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext()
{
    if (t_stack.empty() || !t_stack.back().isImageContext)
        return nullptr;
    auto& entry = t_stack.back();
    auto* surface = entry.surface;
    cairo_surface_flush(surface);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    if (w == 0 || h == 0)
        return nullptr;
    auto* copy = newImageSurface(w, h);
    if (!copy)
        return nullptr;
    auto* from = cairo_image_surface_get_data(surface);
    auto* to = cairo_image_surface_get_data(copy);
    int fromStride = cairo_image_surface_get_stride(surface), toStride = cairo_image_surface_get_stride(copy);
    for (int y = 0; y < h; ++y)
        std::memcpy(to + size_t(y) * toStride, from + size_t(y) * fromStride, size_t(w) * 4);
    cairo_surface_mark_dirty(copy);
    auto image = std::make_shared<UIImage>(copy, entry.scale);
    cairo_surface_destroy(copy);
    return image;
}

void UIGraphicsEndImageContext()
{
    if (t_stack.empty() || !t_stack.back().isImageContext)
        return;
    t_stack.pop_back();
}

CGContextRef UIGraphicsGetCurrentContext()
{
    return t_stack.empty() ? nullptr : t_stack.back().context;
}

void UIGraphicsPushContext(CGContextRef context)
{
    if (!context)
        return;
    Entry entry;
    entry.context = context;
    t_stack.push_back(std::move(entry));
}

void UIGraphicsPopContext()
{
    if (!t_stack.empty() && !t_stack.back().isImageContext)
        t_stack.pop_back();
}

}
