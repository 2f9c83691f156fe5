// libFuzzer target: the GIF frames and delays of an animated picture from hostile bytes.

#include "platform/graphics/CGImageSource.h"

#include <cstdint>
#include <cstdlib>

using namespace vesk::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto source = CGImageSource::createWithData(Bytes(data, data + size));
    if (!source)
        return 0;
    if (source->count() > CGImageSource::maximumFrames)
        std::abort();
    for (std::size_t i = 0; i < source->count(); ++i) {
        auto image = source->createImageAtIndex(i);
        auto properties = source->copyPropertiesAtIndex(i);
        if (!image || !properties || !properties->find(kCGImagePropertyGIFDictionary))
            std::abort();
        // Every frame covers the whole logical screen.
        auto width = cairo_image_surface_get_width(image.get());
        if (width != cairo_image_surface_get_width(source->createImageAtIndex(0).get()))
            std::abort();
    }
    if (source->createImageAtIndex(source->count()) || source->copyPropertiesAtIndex(source->count()))
        std::abort();
    return 0;
}
