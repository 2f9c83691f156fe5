#include "platform/graphics/CGImageSource.h"

#include "platform/graphics/ImageDecoding.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>

namespace vesk::platform {

namespace {

    struct GifCloser {
        void operator()(GifFileType* gif) const
        {
            int error = 0;
            DGifCloseFile(gif, &error);
        }
    };

    CGImageRef snapshot(const std::vector<std::uint32_t>& canvas, int width, int height)
    {
        auto* surface = newImageSurface(width, height);
        if (!surface)
            return nullptr;
        auto* pixels = cairo_image_surface_get_data(surface);
        int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < height; ++y)
            std::memcpy(pixels + std::size_t(y) * std::size_t(stride), canvas.data() + std::size_t(y) * std::size_t(width), std::size_t(width) * 4);
        cairo_surface_mark_dirty(surface);
        return CGImageRef(surface, cairo_surface_destroy);
    }

}

std::shared_ptr<CGImageSource> CGImageSource::createWithData(const Bytes& data)
{
    if (data.size() < 6 || std::memcmp(data.data(), "GIF", 3) != 0)
        return nullptr;
    GIFSource reader { data.data(), data.size() };
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(openGIF(reader, &error));
    if (!gif)
        return nullptr;
    auto source = std::shared_ptr<CGImageSource>(new CGImageSource);
    int width = gif->SWidth, height = gif->SHeight;
    if (!imageSizeAcceptable(std::uint64_t(width), std::uint64_t(height)))
        return source;
    std::vector<std::uint32_t> canvas(std::size_t(width) * std::size_t(height), 0);
    std::uint64_t pixelsKept = 0;
    // The control block of the next frame, when one came before it.
    GraphicsControlBlock control {};
    bool hasControl = false;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    // Any failure ends the frames: those decoded so far stay.
    while (DGifGetRecordType(gif.get(), &record) != GIF_ERROR && record != TERMINATE_RECORD_TYPE) {
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif.get(), &code, &extension) == GIF_ERROR)
                break;
            GraphicsControlBlock block {};
            if (code == GRAPHICS_EXT_FUNC_CODE && extension && DGifExtensionToGCB(extension[0], extension + 1, &block) == GIF_OK) {
                control = block;
                hasControl = true;
            }
            bool failed = false;
            while (extension && !failed)
                failed = DGifGetExtensionNext(gif.get(), &extension) == GIF_ERROR;
            if (failed)
                break;
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif.get()) == GIF_ERROR)
            break;
        auto& desc = gif->Image;
        ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map || !imageSizeAcceptable(std::uint64_t(std::max(desc.Width, 0)), std::uint64_t(std::max(desc.Height, 0))))
            break;
        pixelsKept += std::uint64_t(width) * std::uint64_t(height);
        if (pixelsKept > kMaxImagePixels || source->m_frames.size() >= maximumFrames)
            break;
        int disposal = hasControl ? control.DisposalMode : DISPOSAL_UNSPECIFIED;
        int transparent = hasControl ? control.TransparentColor : NO_TRANSPARENT_COLOR;
        std::vector<std::uint32_t> before;
        if (disposal == DISPOSE_PREVIOUS)
            before = canvas;
        std::vector<GifPixelType> line(std::size_t(desc.Width));
        bool damaged = false;
        for (int row : gifRowOrder(desc)) {
            if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) {
                damaged = true;
                break;
            }
            int y = desc.Top + row;
            if (y >= 0 && y < height)
                paintGIFRow(canvas.data() + std::size_t(y) * std::size_t(width), width, desc, line.data(), *map, transparent);
        }
        if (damaged)
            break;
        auto image = snapshot(canvas, width, height);
        if (!image)
            break;
        std::optional<double> delay;
        if (hasControl)
            delay = control.DelayTime / 100.0;
        source->m_frames.push_back({ std::move(image), delay });
        if (disposal == DISPOSE_BACKGROUND) {
            for (int y = std::max(desc.Top, 0); y < std::min(desc.Top + desc.Height, height); ++y)
                for (int x = std::max(desc.Left, 0); x < std::min(desc.Left + desc.Width, width); ++x)
                    canvas[std::size_t(y) * std::size_t(width) + std::size_t(x)] = 0;
        } else if (disposal == DISPOSE_PREVIOUS) {
            canvas = std::move(before);
        }
        hasControl = false;
    }
    return source;
}

CGImageRef CGImageSource::createImageAtIndex(std::size_t index) const
{
    return index < m_frames.size() ? m_frames[index].image : nullptr;
}

std::optional<Dictionary> CGImageSource::copyPropertiesAtIndex(std::size_t index) const
{
    if (index >= m_frames.size())
        return std::nullopt;
    Dictionary gif;
    if (auto delay = m_frames[index].delay) {
        gif.set(std::string(kCGImagePropertyGIFUnclampedDelayTime), Value(*delay));
        gif.set(std::string(kCGImagePropertyGIFDelayTime), Value(*delay));
    }
    Dictionary properties;
    properties.set(std::string(kCGImagePropertyGIFDictionary), Value(std::move(gif)));
    return properties;
}

}
