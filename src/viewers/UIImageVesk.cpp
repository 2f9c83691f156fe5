#include "viewers/UIImageVesk.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/graphics/CGImageSource.h"
#include "platform/graphics/UIScreen.h"

#include <cmath>
#include <numeric>
#include <vector>

namespace vesk {

using namespace platform;

namespace {

    constexpr std::size_t maximumGIFBytes = 256u << 20;

    // In hundredths of a second: the unclamped delay, else the clamped one; a frame without a
    // positive delay, or one that rounds to nothing, shows for one hundredth.
    long delayOf(const CGImageSource& source, std::size_t index)
    {
        auto properties = source.copyPropertiesAtIndex(index);
        double seconds = 0;
        if (auto* gif = properties ? properties->find(kCGImagePropertyGIFDictionary) : nullptr) {
            auto read = [&](std::string_view key) {
                auto* value = gif->dictionary() ? gif->dictionary()->find(key) : nullptr;
                return value ? value->realValue().value_or(0) : 0;
            };
            seconds = read(kCGImagePropertyGIFUnclampedDelayTime);
            if (seconds == 0)
                seconds = read(kCGImagePropertyGIFDelayTime);
        }
        if (!(seconds > 0) || !std::isfinite(seconds))
            return 1;
        return std::max(1L, std::lrint(std::min(seconds, 1e6) * 100));
    }

}

std::shared_ptr<UIImage> UIImageVesk::animatedImageWithGIFNamed(const std::string& name)
{
    if (name.empty())
        return nullptr;
    int scale = static_cast<int>(std::lround(UIScreen::mainScreen().scale()));
    std::vector<int> scales { scale };
    for (int other : { 1, 2, 3 }) {
        if (other != scale)
            scales.push_back(other);
    }
    std::vector<std::string> suffixes;
    for (int each : scales) {
        suffixes.push_back("@" + std::to_string(each) + "x");
        suffixes.push_back("@" + std::to_string(each) + "X");
    }
    suffixes.emplace_back();
    for (auto& suffix : suffixes) {
        if (auto path = NSBundle::mainBundle().pathForResource(name + suffix, "gif")) {
            auto data = readFileContents(*path, maximumGIFBytes);
            auto source = data ? CGImageSource::createWithData(*data) : nullptr;
            return source ? animatedImageWithImageSource(*source) : nullptr;
        }
    }
    return nullptr;
}

std::shared_ptr<UIImage> UIImageVesk::animatedImageWithGIFAtPath(const std::string& path)
{
    auto data = readFileContents(path, maximumGIFBytes);
    return data ? animatedImageWithGIFData(*data) : nullptr;
}

std::shared_ptr<UIImage> UIImageVesk::animatedImageWithGIFData(const Bytes& data)
{
    if (auto source = CGImageSource::createWithData(data))
        return animatedImageWithImageSource(*source);
    // Any other picture is one frame of the shortest delay, so a PNG or JPEG named ".gif" shows.
    auto still = UIImage::imageWithData(data, UIScreen::mainScreen().scale());
    return still ? UIImage::animatedImageWithImages({ still }, 0.01) : nullptr;
}

std::shared_ptr<UIImage> UIImageVesk::animatedImageWithImageSource(const CGImageSource& source)
{
    auto count = source.count();
    if (count == 0)
        return nullptr;
    CGFloat scale = UIScreen::mainScreen().scale();
    std::vector<std::shared_ptr<UIImage>> frames;
    std::vector<long> delays;
    long total = 0;
    long divisor = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto image = source.createImageAtIndex(i);
        if (!image)
            return nullptr;
        frames.push_back(std::make_shared<UIImage>(image.get(), scale));
        delays.push_back(delayOf(source, i));
        total += delays.back();
        divisor = std::gcd(divisor, delays.back());
    }
    // Past the length limit the frames count in coarser steps, each frame at least once.
    long unit = divisor;
    if (static_cast<std::size_t>(total / divisor) > maximumFrameListLength)
        unit = std::max(divisor, (total + static_cast<long>(maximumFrameListLength) - 1) / static_cast<long>(maximumFrameListLength));
    std::vector<std::shared_ptr<UIImage>> list;
    for (std::size_t i = 0; i < count; ++i) {
        long repeats = std::max(1L, unit == divisor ? delays[i] / unit : std::lrint(static_cast<double>(delays[i]) / static_cast<double>(unit)));
        list.insert(list.end(), static_cast<std::size_t>(repeats), frames[i]);
    }
    return UIImage::animatedImageWithImages(std::move(list), static_cast<double>(total) / 100.0);
}

}
