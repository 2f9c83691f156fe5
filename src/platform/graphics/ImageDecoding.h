#pragma once

#include <cairo.h>
#include <cstddef>
#include <cstdint>
#include <gif_lib.h>
#include <optional>
#include <utility>
#include <vector>

namespace vesk::platform {

// Decoders from bytes to a new ARGB32 surface (null when the bytes are not a readable
// image of that kind, or larger than the limits below). The caller destroys the surface.
constexpr uint64_t kMaxImagePixels = 64ull * 1024 * 1024;
constexpr uint32_t kMaxImageSide = 32767;

bool imageSizeAcceptable(uint64_t width, uint64_t height);

// Width and height as a PNG, JPEG, GIF (its canvas) or TIFF header declares them, read
// without decoding a pixel; absent for other bytes or a header cut short.
std::optional<std::pair<uint64_t, uint64_t>> declaredImageSize(const uint8_t* bytes, size_t size);

// A JPEG needed no wider than `atLeastWidth` pixels is decoded at the smallest of its half,
// quarter or eighth that is still as wide (0: at its full size).
cairo_surface_t* decodeJPEG(const uint8_t* bytes, size_t size, uint32_t atLeastWidth = 0);
cairo_surface_t* decodeTIFF(const uint8_t* bytes, size_t size);
// The first frame, on its logical screen.
cairo_surface_t* decodeGIF(const uint8_t* bytes, size_t size);

// A new ARGB32 surface, clear; null when cairo can't make one.
cairo_surface_t* newImageSurface(int width, int height);

// GIF bytes for giflib to read; they and the source outlive the file opened on them.
struct GIFSource {
    const uint8_t* bytes;
    size_t size;
    size_t offset = 0;
};
GifFileType* openGIF(GIFSource& source, int* error);
// The rows of a frame in the order they arrive: four passes when it is interlaced.
std::vector<int> gifRowOrder(const GifImageDesc& desc);
// Paints one decoded row of a frame into a canvas row `width` pixels wide. Pixels off the
// canvas, transparent or outside the colour map leave the canvas as it is.
void paintGIFRow(uint32_t* canvasRow, int width, const GifImageDesc& desc, const GifPixelType* line, const ColorMapObject& map, int transparent);

}
