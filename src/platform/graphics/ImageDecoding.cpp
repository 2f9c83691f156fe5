#include "platform/graphics/ImageDecoding.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <jpeglib.h>
#include <mutex>
#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace vesk::platform {

bool imageSizeAcceptable(uint64_t width, uint64_t height)
{
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxImagePixels;
}

namespace {

    // Pixels past this size get a mapping of their own.
    constexpr size_t mappedPixelBytes = 128 * 1024;

    struct MappedPixels {
        void* start;
        size_t length;
    };

    const cairo_user_data_key_t mappedPixelsKey {};

    void unmapPixels(void* data)
    {
        auto* pixels = static_cast<MappedPixels*>(data);
        ::munmap(pixels->start, pixels->length);
        delete pixels;
    }

    // Decoded pictures are large and made on worker threads: in the allocator's heap, what one
    // frees stays with the thread that made it, and a closed viewer's frames would keep the app
    // at its peak. A mapping goes back to the system the moment the surface goes. A page that
    // can't be touched follows the pixels, so a write past them faults.
    cairo_surface_t* mappedImageSurface(int width, int height)
    {
        int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
        if (stride <= 0)
            return nullptr;
        auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        size_t bytes = size_t(stride) * size_t(height);
        size_t length = (bytes + page - 1) / page * page + page;
        void* start = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (start == MAP_FAILED)
            return nullptr;
        auto* mapped = new MappedPixels { start, length };
        if (::mprotect(static_cast<char*>(start) + length - page, page, PROT_NONE) != 0) {
            unmapPixels(mapped);
            return nullptr;
        }
        auto* surface = cairo_image_surface_create_for_data(static_cast<unsigned char*>(start), CAIRO_FORMAT_ARGB32, width, height, stride);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS || cairo_surface_set_user_data(surface, &mappedPixelsKey, mapped, unmapPixels) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            unmapPixels(mapped);
            return nullptr;
        }
        return surface;
    }

}

cairo_surface_t* newImageSurface(int width, int height)
{
    // Fresh mappings are zero: clear, as cairo's own are.
    if (width > 0 && height > 0 && uint64_t(width) * uint64_t(height) * 4 >= mappedPixelBytes && imageSizeAcceptable(uint64_t(width), uint64_t(height)))
        return mappedImageSurface(width, height);
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    return surface;
}

namespace {

    uint32_t* rowOf(cairo_surface_t* surface, int y)
    {
        return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) + size_t(y) * cairo_image_surface_get_stride(surface));
    }

    uint32_t opaque(uint32_t r, uint32_t g, uint32_t b)
    {
        return 0xff000000u | (r << 16) | (g << 8) | b;
    }

    // JPEG: libjpeg reports fatal errors through error_exit, which must not return.
    struct JPEGError {
        jpeg_error_mgr manager;
        std::jmp_buf jump;
    };

    void jpegFail(j_common_ptr info)
    {
        std::longjmp(reinterpret_cast<JPEGError*>(info->err)->jump, 1);
    }
    void jpegQuiet(j_common_ptr, int) { }

}

cairo_surface_t* decodeJPEG(const uint8_t* bytes, size_t size, uint32_t atLeastWidth)
{
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return nullptr;
    jpeg_decompress_struct info;
    JPEGError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    error.manager.emit_message = jpegQuiet;
    // Everything that must be released after a failure lives outside the jump.
    cairo_surface_t* volatile surface = nullptr;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        if (surface)
            cairo_surface_destroy(surface);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (!imageSizeAcceptable(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return nullptr;
    }
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    // libjpeg leaves out what a smaller picture doesn't need as it decodes: an eighth of the
    // pixels at 1/8.
    if (atLeastWidth > 0) {
        info.scale_num = 1;
        info.scale_denom = 1;
        while (info.scale_denom < 8 && info.image_width / (info.scale_denom * 2) >= atLeastWidth)
            info.scale_denom *= 2;
    }
    jpeg_start_decompress(&info);
    surface = newImageSurface(int(info.output_width), int(info.output_height));
    if (!surface) {
        jpeg_destroy_decompress(&info);
        return nullptr;
    }
    // From libjpeg's own pool, which its destroy releases on every path.
    JSAMPARRAY buffer = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
        info.output_width * JDIMENSION(info.output_components), 1);
    while (info.output_scanline < info.output_height) {
        int y = int(info.output_scanline);
        jpeg_read_scanlines(&info, buffer, 1);
        auto* out = rowOf(surface, y);
        for (JDIMENSION x = 0; x < info.output_width; ++x) {
            auto* p = &buffer[0][size_t(x) * info.output_components];
            if (cmyk) {
                // Adobe writes CMYK inverted: the samples are already 255 - ink.
                uint32_t k = p[3];
                out[x] = opaque(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
            } else if (info.output_components >= 3) {
                out[x] = opaque(p[0], p[1], p[2]);
            } else {
                out[x] = opaque(p[0], p[0], p[0]);
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    cairo_surface_mark_dirty(surface);
    return surface;
}

namespace {

    // TIFF from memory.
    struct TIFFSource {
        const uint8_t* bytes;
        toff_t size;
        toff_t offset;
    };

    tsize_t tiffRead(thandle_t handle, tdata_t buffer, tsize_t count)
    {
        auto* source = static_cast<TIFFSource*>(handle);
        if (count <= 0 || source->offset >= source->size)
            return 0;
        auto n = std::min<toff_t>(toff_t(count), source->size - source->offset);
        std::memcpy(buffer, source->bytes + source->offset, n);
        source->offset += n;
        return tsize_t(n);
    }

    tsize_t tiffWrite(thandle_t, tdata_t, tsize_t)
    {
        return 0;
    }

    toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
    {
        auto* source = static_cast<TIFFSource*>(handle);
        toff_t base = whence == SEEK_CUR ? source->offset : whence == SEEK_END ? source->size
                                                                               : 0;
        toff_t target = base + offset;
        if (target > source->size)
            return toff_t(-1);
        source->offset = target;
        return target;
    }

    int tiffClose(thandle_t)
    {
        return 0;
    }
    toff_t tiffSize(thandle_t handle)
    {
        return static_cast<TIFFSource*>(handle)->size;
    }
    int tiffMap(thandle_t, tdata_t*, toff_t*)
    {
        return 0;
    }
    void tiffUnmap(thandle_t, tdata_t, toff_t) { }

    void quietTIFF()
    {
        static std::once_flag quiet;
        std::call_once(quiet, [] {
            TIFFSetWarningHandler(nullptr);
            TIFFSetErrorHandler(nullptr);
        });
    }

}

cairo_surface_t* decodeTIFF(const uint8_t* bytes, size_t size)
{
    if (size < 8 || !((bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M')))
        return nullptr;
    quietTIFF();
    TIFFSource source { bytes, toff_t(size), 0 };
    TIFF* tiff = TIFFClientOpen("memory", "rm", &source, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap, tiffUnmap);
    if (!tiff)
        return nullptr;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    cairo_surface_t* surface = nullptr;
    if (imageSizeAcceptable(width, height)) {
        std::vector<uint32_t> raster(size_t(width) * height);
        if (TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            surface = newImageSurface(int(width), int(height));
            for (uint32_t y = 0; surface && y < height; ++y) {
                auto* out = rowOf(surface, int(y));
                for (uint32_t x = 0; x < width; ++x) {
                    // ABGR, already premultiplied, as cairo wants it.
                    uint32_t p = raster[size_t(y) * width + x];
                    out[x] = (TIFFGetA(p) << 24) | (TIFFGetR(p) << 16) | (TIFFGetG(p) << 8) | TIFFGetB(p);
                }
            }
            if (surface)
                cairo_surface_mark_dirty(surface);
        }
    }
    TIFFClose(tiff);
    return surface;
}

namespace {

    int gifRead(GifFileType* gif, GifByteType* buffer, int count)
    {
        auto* source = static_cast<GIFSource*>(gif->UserData);
        if (count <= 0)
            return 0;
        auto n = std::min(size_t(count), source->size - source->offset);
        std::memcpy(buffer, source->bytes + source->offset, n);
        source->offset += n;
        return int(n);
    }

}

GifFileType* openGIF(GIFSource& source, int* error)
{
    return DGifOpen(&source, gifRead, error);
}

std::vector<int> gifRowOrder(const GifImageDesc& desc)
{
    std::vector<int> order;
    if (desc.Interlace) {
        for (auto [start, step] : { std::pair { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } })
            for (int y = start; y < desc.Height; y += step)
                order.push_back(y);
    } else {
        for (int y = 0; y < desc.Height; ++y)
            order.push_back(y);
    }
    return order;
}

void paintGIFRow(uint32_t* canvasRow, int width, const GifImageDesc& desc, const GifPixelType* line, const ColorMapObject& map, int transparent)
{
    for (int i = 0; i < desc.Width; ++i) {
        int x = desc.Left + i;
        int index = line[i];
        if (x < 0 || x >= width || index == transparent || index >= map.ColorCount)
            continue;
        auto& c = map.Colors[index];
        canvasRow[x] = opaque(c.Red, c.Green, c.Blue);
    }
}

cairo_surface_t* decodeGIF(const uint8_t* bytes, size_t size)
{
    if (size < 6 || std::memcmp(bytes, "GIF", 3) != 0)
        return nullptr;
    GIFSource source { bytes, size };
    int error = 0;
    GifFileType* gif = openGIF(source, &error);
    if (!gif)
        return nullptr;
    cairo_surface_t* surface = nullptr;
    auto fail = [&] {
        if (surface)
            cairo_surface_destroy(surface);
        DGifCloseFile(gif, &error);
        return nullptr;
    };
    if (!imageSizeAcceptable(uint64_t(gif->SWidth), uint64_t(gif->SHeight)))
        return fail();
    surface = newImageSurface(gif->SWidth, gif->SHeight); // starts transparent
    if (!surface)
        return fail();
    int transparent = -1;
    GifRecordType record;
    do {
        if (DGifGetRecordType(gif, &record) == GIF_ERROR)
            return fail();
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif, &code, &extension) == GIF_ERROR)
                return fail();
            if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] >= 4 && (extension[1] & 1))
                transparent = extension[4];
            while (extension) {
                if (DGifGetExtensionNext(gif, &extension) == GIF_ERROR)
                    return fail();
            }
        } else if (record == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR)
                return fail();
            auto& desc = gif->Image;
            ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
            if (!map || desc.Width <= 0 || desc.Height <= 0 || !imageSizeAcceptable(uint64_t(desc.Width), uint64_t(desc.Height)))
                return fail();
            std::vector<GifPixelType> line(size_t(desc.Width));
            for (int row : gifRowOrder(desc)) {
                if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR)
                    return fail();
                int y = desc.Top + row;
                // Pixels off the screen, transparent or outside the colour map stay clear.
                if (y >= 0 && y < gif->SHeight)
                    paintGIFRow(rowOf(surface, y), gif->SWidth, desc, line.data(), *map, transparent);
            }
            cairo_surface_mark_dirty(surface);
            DGifCloseFile(gif, &error);
            return surface;
        }
    } while (record != TERMINATE_RECORD_TYPE);
    return fail();
}

std::optional<std::pair<uint64_t, uint64_t>> declaredImageSize(const uint8_t* bytes, size_t size)
{
    auto bigEndian = [bytes](size_t at) { return uint64_t(bytes[at]) << 24 | uint64_t(bytes[at + 1]) << 16 | uint64_t(bytes[at + 2]) << 8 | bytes[at + 3]; };
    if (size >= 24 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0 && std::memcmp(bytes + 12, "IHDR", 4) == 0)
        return std::pair(bigEndian(16), bigEndian(20));
    if (size >= 10 && (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0))
        return std::pair(uint64_t(bytes[6] | bytes[7] << 8), uint64_t(bytes[8] | bytes[9] << 8));
    if (size >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        jpeg_decompress_struct info;
        JPEGError error;
        info.err = jpeg_std_error(&error.manager);
        error.manager.error_exit = jpegFail;
        error.manager.emit_message = jpegQuiet;
        if (setjmp(error.jump)) {
            jpeg_destroy_decompress(&info);
            return std::nullopt;
        }
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
        jpeg_read_header(&info, TRUE);
        std::pair<uint64_t, uint64_t> declared(info.image_width, info.image_height);
        jpeg_destroy_decompress(&info);
        return declared;
    }
    if (size >= 8 && ((bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M'))) {
        quietTIFF();
        TIFFSource source { bytes, toff_t(size), 0 };
        TIFF* tiff = TIFFClientOpen("memory", "rm", &source, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap, tiffUnmap);
        if (!tiff)
            return std::nullopt;
        uint32_t width = 0, height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFClose(tiff);
        return std::pair(uint64_t(width), uint64_t(height));
    }
    return std::nullopt;
}

}
