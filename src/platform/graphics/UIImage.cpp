#include "platform/graphics/UIImage.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageDecoding.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIScreen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <regex>

namespace vesk::platform {

namespace {

    bool pngHeaderAcceptable(const uint8_t* bytes, size_t size)
    {
        static constexpr uint8_t signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
        if (size < 24 || std::memcmp(bytes, signature, sizeof signature) != 0 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
            return false;
        auto be32 = [&](size_t at) {
            return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) | (uint32_t(bytes[at + 2]) << 8) | uint32_t(bytes[at + 3]);
        };
        // Refused before decoding: a few bytes of header can otherwise ask for gigabytes.
        return imageSizeAcceptable(be32(16), be32(20));
    }

    // Image files are read whole; larger ones are refused.
    constexpr size_t kMaxImageFileBytes = 256 * 1024 * 1024;

    struct ReadCursor {
        const std::vector<uint8_t>* data;
        size_t offset;
    };

    cairo_status_t readFromVector(void* closure, unsigned char* out, unsigned int length)
    {
        auto* cursor = static_cast<ReadCursor*>(closure);
        if (cursor->data->size() - cursor->offset < length)
            return CAIRO_STATUS_READ_ERROR;
        std::memcpy(out, cursor->data->data() + cursor->offset, length);
        cursor->offset += length;
        return CAIRO_STATUS_SUCCESS;
    }

    cairo_status_t appendToVector(void* closure, const unsigned char* bytes, unsigned int length)
    {
        static_cast<std::vector<uint8_t>*>(closure)->insert(static_cast<std::vector<uint8_t>*>(closure)->end(), bytes, bytes + length);
        return CAIRO_STATUS_SUCCESS;
    }

    // A copy in ARGB32 of any readable surface, or null.
    cairo_surface_t* argbCopy(cairo_surface_t* source)
    {
        if (!source || cairo_surface_status(source) != CAIRO_STATUS_SUCCESS)
            return nullptr;
        int w = cairo_image_surface_get_width(source), h = cairo_image_surface_get_height(source);
        auto* copy = newImageSurface(w, h);
        if (!copy)
            return nullptr;
        auto* cr = cairo_create(copy);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, source, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(copy);
        return copy;
    }

    cairo_surface_t* decodePNG(const std::vector<uint8_t>& data)
    {
        if (!pngHeaderAcceptable(data.data(), data.size()))
            return nullptr;
        ReadCursor cursor { &data, 0 };
        auto* decoded = cairo_image_surface_create_from_png_stream(readFromVector, &cursor);
        auto* surface = argbCopy(decoded);
        cairo_surface_destroy(decoded);
        return surface;
    }

    bool startsWith(const std::vector<uint8_t>& data, std::initializer_list<uint8_t> prefix)
    {
        return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
    }

    // The kind of image is told by its first bytes, never by a file name.
    std::shared_ptr<UIImage> imageFromBytes(const std::vector<uint8_t>& data, CGFloat scale)
    {
        cairo_surface_t* surface = nullptr;
        if (startsWith(data, { 0x89, 'P', 'N', 'G' }))
            surface = decodePNG(data);
        else if (startsWith(data, { 0xFF, 0xD8, 0xFF }))
            surface = decodeJPEG(data.data(), data.size());
        else if (startsWith(data, { 'G', 'I', 'F', '8', '7', 'a' }) || startsWith(data, { 'G', 'I', 'F', '8', '9', 'a' }))
            surface = decodeGIF(data.data(), data.size());
        else if (startsWith(data, { 'I', 'I', 42, 0 }) || startsWith(data, { 'M', 'M', 0, 42 }))
            surface = decodeTIFF(data.data(), data.size());
        if (!surface)
            return nullptr;
        auto image = std::make_shared<UIImage>(surface, scale);
        cairo_surface_destroy(surface);
        return image;
    }

    CGFloat scaleFromName(const std::string& path)
    {
        static const std::regex suffix(R"(@([1-9])x(\.[^./]*)?$)");
        std::smatch match;
        if (std::regex_search(path, match, suffix))
            return match[1].str()[0] - '0';
        return 1;
    }

}

UIImage::UIImage(cairo_surface_t* surface, CGFloat scale)
    : m_surface(cairo_surface_reference(surface))
    , m_scale(scale > 0 && std::isfinite(scale) ? scale : 1)
{
}

UIImage::~UIImage()
{
    cairo_surface_destroy(m_surface);
}

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFile(const std::string& path)
{
    // Regular files only: opening a FIFO or a device for reading would block or never end.
    auto data = readFileContents(path, kMaxImageFileBytes);
    if (!data || data->empty())
        return nullptr;
    return imageFromBytes(*data, scaleFromName(path));
}

std::shared_ptr<UIImage> UIImage::imageWithData(const std::vector<uint8_t>& data, CGFloat scale)
{
    return imageFromBytes(data, scale);
}

std::shared_ptr<UIImage> UIImage::imageNamed(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return nullptr;
    std::string file = name;
    if (file.find('.') == std::string::npos)
        file += ".png";
    // The variant for the screen's scale ("name@2x.png") first, then the plain name.
    auto dot = file.rfind('.');
    int screenScale = int(std::lround(UIScreen::mainScreen().scale()));
    std::vector<std::string> candidates;
    if (screenScale > 1 && file.find('@') == std::string::npos)
        candidates.push_back(file.substr(0, dot) + "@" + std::to_string(screenScale) + "x" + file.substr(dot));
    candidates.push_back(file);
    for (auto& candidate : candidates) {
        if (auto path = NSBundle::mainBundle().pathForResource(candidate, ""))
            return imageWithContentsOfFile(*path);
    }
    return nullptr;
}

std::shared_ptr<UIImage> UIImage::animatedImageWithImages(std::vector<std::shared_ptr<UIImage>> images, double duration)
{
    std::erase(images, nullptr);
    if (images.empty())
        return nullptr;
    auto animated = std::make_shared<UIImage>(images.front()->surface(), images.front()->scale());
    animated->m_images = std::move(images);
    animated->m_duration = duration > 0 && std::isfinite(duration) ? duration : 0;
    return animated;
}

int UIImage::pixelWidth() const
{
    return cairo_image_surface_get_width(m_surface);
}
int UIImage::pixelHeight() const
{
    return cairo_image_surface_get_height(m_surface);
}

CGSize UIImage::size() const
{
    return { pixelWidth() / m_scale, pixelHeight() / m_scale };
}

UIPixel UIImage::pixelAt(int x, int y) const
{
    if (x < 0 || y < 0 || x >= pixelWidth() || y >= pixelHeight())
        return {};
    auto* row = cairo_image_surface_get_data(m_surface) + size_t(y) * cairo_image_surface_get_stride(m_surface);
    uint32_t argb;
    std::memcpy(&argb, row + size_t(x) * 4, 4);
    uint8_t a = argb >> 24;
    if (a == 0)
        return {};
    auto unpremultiply = [a](uint32_t c) { return uint8_t(std::min<uint32_t>(255, (c * 255 + a / 2) / a)); };
    return { unpremultiply((argb >> 16) & 0xff), unpremultiply((argb >> 8) & 0xff), unpremultiply(argb & 0xff), a };
}

bool UIImage::hasEqualPixels(const UIImage& other) const
{
    if (pixelWidth() != other.pixelWidth() || pixelHeight() != other.pixelHeight() || m_scale != other.m_scale)
        return false;
    size_t rowBytes = size_t(pixelWidth()) * 4;
    for (int y = 0; y < pixelHeight(); ++y) {
        auto* a = cairo_image_surface_get_data(m_surface) + size_t(y) * cairo_image_surface_get_stride(m_surface);
        auto* b = cairo_image_surface_get_data(other.m_surface) + size_t(y) * cairo_image_surface_get_stride(other.m_surface);
        if (std::memcmp(a, b, rowBytes) != 0)
            return false;
    }
    return true;
}

void UIImage::drawInRect(const CGRect& rect) const
{
    if (auto* c = UIGraphicsGetCurrentContext())
        c->paintImage(*this, rect, false, false, &rect);
}

void UIImage::drawAtPoint(CGPoint point) const
{
    auto s = size();
    drawInRect(CGRectMake(point.x, point.y, s.width, s.height));
}

void UIImage::drawAsPatternInRect(const CGRect& rect) const
{
    if (auto* c = UIGraphicsGetCurrentContext())
        c->paintImage(*this, { CGRectStandardize(rect).origin, size() }, false, true, &rect);
}

std::vector<uint8_t> UIImage::PNGRepresentation() const
{
    std::vector<uint8_t> bytes;
    if (pixelWidth() == 0 || pixelHeight() == 0)
        return bytes;
    if (cairo_surface_write_to_png_stream(m_surface, appendToVector, &bytes) != CAIRO_STATUS_SUCCESS)
        bytes.clear();
    return bytes;
}

bool UIImage::writePNGToFile(const std::string& path) const
{
    auto bytes = PNGRepresentation();
    if (bytes.empty())
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

std::vector<uint8_t> UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image)
{
    return image ? image->PNGRepresentation() : std::vector<uint8_t> {};
}

}
