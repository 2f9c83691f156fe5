#pragma once

#include <cairo.h>
#include <cstddef>
#include <cstdint>

namespace vesk::platform {

// Decoders from bytes to a new ARGB32 surface (null when the bytes are not a readable
// image of that kind, or larger than the limits below). The caller destroys the surface.
constexpr uint64_t kMaxImagePixels = 64ull * 1024 * 1024;
constexpr uint32_t kMaxImageSide = 32767;

bool imageSizeAcceptable(uint64_t width, uint64_t height);

cairo_surface_t* decodeJPEG(const uint8_t* bytes, size_t size);
cairo_surface_t* decodeTIFF(const uint8_t* bytes, size_t size);
// The first frame, on its logical screen.
cairo_surface_t* decodeGIF(const uint8_t* bytes, size_t size);

// A new ARGB32 surface, clear; null when cairo can't make one.
cairo_surface_t* newImageSurface(int width, int height);

}
