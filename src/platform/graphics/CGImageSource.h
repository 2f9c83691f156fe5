#pragma once

#include "platform/foundation/Value.h"

#include <cairo.h>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace vesk::platform {

// The frame properties of a GIF, under the platform's keys; delays are in seconds.
inline constexpr std::string_view kCGImagePropertyGIFDictionary = "{GIF}";
inline constexpr std::string_view kCGImagePropertyGIFDelayTime = "DelayTime";
inline constexpr std::string_view kCGImagePropertyGIFUnclampedDelayTime = "UnclampedDelayTime";

using CGImageRef = std::shared_ptr<cairo_surface_t>;

// The frames of a GIF (through giflib), each as it is shown in its turn: drawn over what the
// earlier frames left after their disposal. Decoded whole when made. A damaged file keeps the
// frames before the damage; frames past maximumFrames, or past a budget of kMaxImagePixels
// pixels in all, are left out, so no file can ask for unbounded memory.
class CGImageSource {
public:
    static constexpr std::size_t maximumFrames = 4096;

    // Null when the bytes are no GIF.
    static std::shared_ptr<CGImageSource> createWithData(const Bytes& data);

    std::size_t count() const { return m_frames.size(); }
    // An ARGB32 surface; null outside the frames.
    CGImageRef createImageAtIndex(std::size_t index) const;
    // The "{GIF}" dictionary holding both delays (the file records one delay, unclamped);
    // without delays when the frame has no graphic control block; absent outside the frames.
    std::optional<Dictionary> copyPropertiesAtIndex(std::size_t index) const;

private:
    struct Frame {
        CGImageRef image;
        std::optional<double> delay;
    };
    std::vector<Frame> m_frames;
};

}
