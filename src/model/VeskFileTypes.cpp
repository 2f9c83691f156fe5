#include "model/VeskFileTypes.h"

#include "assets/VeskAssets.h"
#include "model/ObjCHelper.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PropertyList.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIImage.h"
#include "platform/graphics/UIScreen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

namespace vesk {

using namespace platform;

namespace {

    // An app's Info.plist is small; anything larger is not read.
    constexpr std::size_t maxInfoPlistBytes = 4u << 20;

    bool extensionIsOneOf(std::string_view path,
        std::initializer_list<std::string_view> extensions)
    {
        auto extension = pathExtension(path);
        return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
    }

    using ColourOf = const std::shared_ptr<UIColor>& (*)();

    const std::array<std::pair<std::string_view, ColourOf>, 27>& typeColours()
    {
        static const std::array<std::pair<std::string_view, ColourOf>, 27> colours { {
            { "txt", &VeskAssets::txtColor },
            { "xml", &VeskAssets::xmlColor },
            { "log", &VeskAssets::logColor },
            { "sh", &VeskAssets::shColor },
            { "c", &VeskAssets::cColor },
            { "cpp", &VeskAssets::cppColor },
            { "h", &VeskAssets::hColor },
            { "m", &VeskAssets::mColor },
            { "php", &VeskAssets::phpColor },
            { "rb", &VeskAssets::rbColor },
            { "py", &VeskAssets::pyColor },
            { "pl", &VeskAssets::plColor },
            { "list", &VeskAssets::listColor },
            { "info", &VeskAssets::infoColor },
            { "in", &VeskAssets::infoColor },
            { "diff", &VeskAssets::diffColor },
            { "hex", &VeskAssets::hexColor },
            { "css", &VeskAssets::cssColor },
            { "js", &VeskAssets::jsColor },
            { "conf", &VeskAssets::confColor },
            { "html", &VeskAssets::htmlColor },
            { "pdf", &VeskAssets::pdfColor },
            { "plist", &VeskAssets::plistColor },
            { "json", &VeskAssets::jsonColor },
            { "deb", &VeskAssets::debColor },
            { "ipa", &VeskAssets::ipaColor },
            { "svg", &VeskAssets::flatBlue },
        } };
        return colours;
    }

    std::shared_ptr<UIImage> defaultAppIcon()
    {
        return VeskAssets::imageOfDefaultIconWithIconFillColor(
            UIColor::lightGrayColor());
    }

    // The icon files a bundle names without an extension, the screen's scale first.
    std::shared_ptr<UIImage> loadBundleIcon(const std::string& base)
    {
        auto scale = static_cast<int>(std::lround(UIScreen::mainScreen().scale()));
        std::vector<std::string> candidates;
        if (scale > 1)
            candidates.push_back(base + "@" + std::to_string(scale) + "x.png");
        candidates.push_back(base + ".png");
        for (int other : { 2, 3 }) {
            if (other != scale)
                candidates.push_back(base + "@" + std::to_string(other) + "x.png");
        }
        candidates.push_back(base);
        for (const auto& candidate : candidates) {
            if (auto image = UIImage::imageWithContentsOfFile(candidate))
                return image;
        }
        return nullptr;
    }

    std::shared_ptr<UIImage> appBundleIcon(const NSFileManager& fm,
        std::string_view bundlePath)
    {
        auto infoPath = stringByAppendingPathComponent(bundlePath, "Info.plist");
        if (!fm.fileExistsAtPath(infoPath))
            return defaultAppIcon();
        auto info = propertyListFromFile(infoPath, maxInfoPlistBytes);
        if (!info)
            return defaultAppIcon();
        const auto* files = (*info)["CFBundleIcons"]["CFBundlePrimaryIcon"]["CFBundleIconFiles"]
                                .array();
        // Only a list made wholly of names counts.
        if (!files || files->empty()
            || !std::all_of(files->begin(), files->end(), [](const Value& file) { return file.isString(); }))
            return defaultAppIcon();
        const auto* last = files->back().string();
        // Cutting at the first "." also keeps ".." out of the name.
        auto name = last->substr(0, last->find('.'));
        if (name.empty())
            return defaultAppIcon();
        auto icon = loadBundleIcon(stringByAppendingPathComponent(bundlePath, name));
        return icon ? icon : defaultAppIcon();
    }

} // namespace

bool isVideoFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "mov", "mp4" });
}

bool isMusicFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path,
        { "mp3", "aiff", "aif", "caf", "m4a", "wav", "m4r" });
}

bool isStringsFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "strings" });
}

bool isListFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "plist" });
}

bool isImageFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "png", "jpg", "jpeg", "tiff", "tif", "gif" });
}

bool isZipFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "zip" });
}

bool isSwiftFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "swift" });
}

bool isTextFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path,
        { "txt", "xml", "log", "sh", "c", "cpp", "h",
            "m", "php", "rb", "py", "pl", "list", "info",
            "in", "diff", "hex", "css", "js", "conf", "swift",
            "scss", "css", "csv", "json" });
}

bool isWebFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "html", "pdf", "doc", "svg" });
}

bool isAppFileAtPath(std::string_view path)
{
    return extensionIsOneOf(path, { "app" });
}

std::shared_ptr<UIColor> getColorOfFile(std::string_view path)
{
    auto extension = pathExtension(path);
    for (const auto& [name, colour] : typeColours()) {
        if (name == extension)
            return colour();
    }
    return VeskAssets::flatPurple();
}

std::string getMimeTypeOfFile(std::string_view path)
{
    return ObjCHelper().getMimeTypeOfFile(std::string(path));
}

std::shared_ptr<UIImage>
VeskFileManager::getImageForFileAtPath(std::string_view path) const
{
    if (isVeskDownloadFileAtPath(path))
        return VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(1.0);
    if (isDirectoryAtPath(path) && !isAppFileAtPath(path))
        return VeskAssets::imageOfFolderIconWithFileFillColor(
            VeskAssets::flatRed());
    if (isImageFileAtPath(path))
        return UIImage::imageWithContentsOfFile(std::string(path));
    if (isSwiftFileAtPath(path))
        return VeskAssets::imageOfSwiftIcon();
    if (m_fileManager.isExecutableFileAtPath(std::string(path)) && !isAppFileAtPath(path))
        return VeskAssets::imageOfExecutableIconWithFileFillColor(
            VeskAssets::flatGreen());
    if (isStringsFileAtPath(path))
        return VeskAssets::imageOfStringsIconWithFileFillColor(
            VeskAssets::flatBlue());
    if (isMusicFileAtPath(path))
        return VeskAssets::imageOfMusicIconWithFileFillColor(
            VeskAssets::flatOrange());
    if (isVideoFileAtPath(path))
        return VeskAssets::imageOfVideoIconWithFileFillColor(
            VeskAssets::flatDeepBlue());
    if (isAppFileAtPath(path))
        return appBundleIcon(m_fileManager, path);
    if (isZipFileAtPath(path))
        return VeskAssets::imageOfZipIcon();
    return VeskAssets::imageOfFileIconWithFileFillColor(getColorOfFile(path),
        pathExtension(path));
}

} // namespace vesk
