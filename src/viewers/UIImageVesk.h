#pragma once

#include "platform/foundation/Value.h"
#include "platform/graphics/UIImage.h"

#include <memory>
#include <string>

namespace vesk::platform {
class CGImageSource;
}

namespace vesk {

// Animated GIFs as one animated image whose frames are repeated so that each shows for its
// own delay: a frame with twice the delay of another is listed twice as often.
class UIImageVesk {
public:
    // The expanded frame list is kept at most this long; longer ones count in coarser steps.
    static constexpr std::size_t maximumFrameListLength = 1u << 16;

    // A GIF of the main bundle ("name@2x.gif" and the like first); none when there is none.
    static std::shared_ptr<platform::UIImage> animatedImageWithGIFNamed(const std::string& name);
    // None when the file does not exist or can't be read.
    static std::shared_ptr<platform::UIImage> animatedImageWithGIFAtPath(const std::string& path);
    // None when the bytes are no picture or hold no frame; a still picture is one frame.
    static std::shared_ptr<platform::UIImage> animatedImageWithGIFData(const platform::Bytes& data);
    static std::shared_ptr<platform::UIImage> animatedImageWithImageSource(const platform::CGImageSource& source);
};

}
