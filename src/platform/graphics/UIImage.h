#pragma once

#include "platform/graphics/CGGeometry.h"

#include <cairo.h>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

// One pixel, not premultiplied, each channel 0 to 255.
struct UIPixel {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;
    bool operator==(const UIPixel&) const = default;
};

// An immutable bitmap with a size in points and a scale (pixels per point).
class UIImage {
public:
    // Takes a reference of its own to an image surface in ARGB32 format.
    UIImage(cairo_surface_t* surface, CGFloat scale);
    ~UIImage();
    UIImage(const UIImage&) = delete;
    UIImage& operator=(const UIImage&) = delete;

    // A PNG, JPEG, TIFF or the first frame of a GIF, told apart by its bytes, from a file or
    // from bytes; a file's scale is taken from an "@2x"-style name suffix, else 1. Null when
    // the data is no readable image, or too large (files over 256 MiB, images over 32767
    // pixels a side or 64 Mi pixels).
    static std::shared_ptr<UIImage> imageWithContentsOfFile(const std::string& path);
    static std::shared_ptr<UIImage> imageWithData(const std::vector<uint8_t>& data, CGFloat scale = 1);
    // A resource of the main bundle by file name ("image.png"; ".png" added when the name has
    // no extension). Null when the bundle lacks it.
    static std::shared_ptr<UIImage> imageNamed(const std::string& name);
    // An image that plays the frames in turn over the duration (seconds), each for an equal
    // share; its own bitmap is the first frame's. Null without frames.
    static std::shared_ptr<UIImage> animatedImageWithImages(std::vector<std::shared_ptr<UIImage>> images, double duration);

    CGSize size() const;
    CGFloat scale() const { return m_scale; }
    int pixelWidth() const;
    int pixelHeight() const;
    // Transparent black outside the bitmap.
    UIPixel pixelAt(int x, int y) const;
    // Every pixel equal (sizes and scale included).
    bool hasEqualPixels(const UIImage& other) const;

    // Drawing into the current context, upright in its user space.
    void drawInRect(const CGRect& rect) const;
    void drawAtPoint(CGPoint point) const;
    // Tiles the rectangle with the image at its size in points from the rectangle's top left.
    void drawAsPatternInRect(const CGRect& rect) const;

    std::vector<uint8_t> PNGRepresentation() const;
    bool writePNGToFile(const std::string& path) const;

    cairo_surface_t* surface() const { return m_surface; }

    // The frames and duration of an animated image; empty and 0 for a still one.
    const std::vector<std::shared_ptr<UIImage>>& images() const { return m_images; }
    double duration() const { return m_duration; }

private:
    cairo_surface_t* m_surface;
    CGFloat m_scale;
    std::vector<std::shared_ptr<UIImage>> m_images;
    double m_duration = 0;
};

// The PNG bytes of the image; empty when there is no image.
std::vector<uint8_t> UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image);

// Anything that takes an image by setImage (image views, bar button items): the element
// type of the icon target lists.
class UIImageSettable {
public:
    virtual ~UIImageSettable() = default;
    virtual void setImage(std::shared_ptr<UIImage> image) = 0;
};

}
