#include "assets/VeskAssets.h"
#include "model/Bookmarks.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "model/VeskFileTypes.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/graphics/ImageDecoding.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"
#include "webservice/FileStreaming.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/WebServiceEnvelope.h"

#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vesk {

using namespace platform;

namespace {

    constexpr CGRect iconBox { { 0, 0 }, { 35, 25 } };

    // The icon drawn into a transparent image of its aspect-fit size inside the box; empty
    // when the icon has no drawable size or cannot be encoded.
    std::vector<uint8_t> fittedPNG(const std::shared_ptr<UIImage>& icon)
    {
        if (!icon)
            return {};
        auto size = icon->size();
        if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.width <= 0 || size.height <= 0)
            return {};
        auto fitted = AVMakeRectWithAspectRatioInsideRect(size, iconBox);
        UIGraphicsBeginImageContextWithOptions(fitted.size, false, 0);
        icon->drawInRect(CGRectMake(0, 0, fitted.size.width, fitted.size.height));
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return UIImagePNGRepresentation(image);
    }

    // The icon of the item's type, for items whose own picture cannot be drawn.
    std::shared_ptr<UIImage> typeIcon(const std::string& path)
    {
        if (isImageFileAtPath(path))
            return VeskAssets::imageOfImageIconWithFileFillColor(getColorOfFile(path));
        return VeskAssets::imageOfFileIconWithFileFillColor(getColorOfFile(path), pathExtension(path));
    }

    Dictionary pathAndName(const std::string& path, const std::string& name)
    {
        Dictionary info;
        info.set("path", Value(path));
        info.set("fileName", Value(name));
        return info;
    }

    // The entries the folder listing would give, counted from their names alone; hidden ones
    // only while the hidden-files setting is on. 0 for anything that is not a readable folder.
    std::size_t countFolderEntries(const std::string& path)
    {
        if (path.find('\0') != std::string::npos)
            return 0;
        int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
        if (descriptor < 0)
            return 0;
        DIR* folder = ::fdopendir(descriptor);
        if (!folder) {
            ::close(descriptor);
            return 0;
        }
        bool countHidden = NSUserDefaults::standardUserDefaults()->boolForKey(hashedDefaultsKey2());
        std::size_t count = 0;
        while (auto* entry = ::readdir(folder)) {
            std::string_view name = entry->d_name;
            if (name == "." || name == ".." || (!countHidden && name.starts_with('.')))
                continue;
            ++count;
        }
        ::closedir(folder);
        return count;
    }

}

std::vector<uint8_t> fittedIconPNG(const std::string& path)
{
    if (isImageFileAtPath(path)) {
        // The picture is read without waiting, and decoded only when it is a regular file
        // under the cap, a few at a time: decoded pixels take far more room than the file.
        OpenedItem item(path);
        if (!item.isDirectory()) {
            std::vector<uint8_t> png;
            if (item.isRegularFile() && item.size() <= maxIconPictureSize) {
                auto place = WorkRation::pictureDecodings().take();
                std::shared_ptr<UIImage> picture;
                auto bytes = item.read(maxIconPictureSize);
                auto declared = bytes ? platform::declaredImageSize(bytes->data(), bytes->size()) : std::nullopt;
                if (declared && declared->first * declared->second <= maxIconPicturePixels)
                    picture = UIImage::imageWithData(*bytes);
                png = fittedPNG(picture);
            }
            return png.empty() ? fittedPNG(typeIcon(path)) : png;
        }
    }
    auto png = fittedPNG(VeskFileManager::defaultManager().getImageForFileAtPath(path));
    if (png.empty())
        png = fittedPNG(typeIcon(path));
    return png;
}

HttpResponse VeskHTTPServer::getFileInfo(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to get file infos!", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    auto value = positionalParameter(request, 0, "path");
    if (!value)
        return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"path\"");
    auto file = VeskFile::initWithPath(*value);
    auto path = file->path();
    if (value->find('\0') != std::string::npos || !itemExistsAtPath(path))
        return webServiceEnvelope(HttpResponse::NotFound(), "File at path \"" + path + "\" could not be found!", pathAndName(path, file->name()));

    Dictionary info = pathAndName(path, file->name());
    info.set("isDir", Value(file->isDir()));
    info.set("isReadable", Value(file->isReadable()));
    info.set("isWritable", Value(file->isWritable()));
    info.set("posix", Value(file->posix()));
    info.set("filesCnt", Value(countFolderEntries(path)));
    Bookmarks bookmarks;
    info.set("isInBookmarks", Value(bookmarks.isInBookmarks(*file)));
    // An item without a drawable icon still gets its facts.
    auto png = fittedIconPNG(path);
    info.set("icon", Value(png.empty() ? std::string() : base64Encode(png)));
    return webServiceEnvelope(okOutcome(), "Info for file or folder at path \"" + path + "\"", std::move(info));
}

HttpResponse VeskHTTPServer::getIcon(const HttpRequest& request)
{
    if (auto refusal = refuseRequest(*this, request, { "User wants to get file icon!", "GET", pleaseUseQuotedGET }))
        return std::move(*refusal);
    auto path = positionalParameter(request, 0, "path");
    if (!path)
        return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"path\"");
    auto type = positionalParameter(request, 1, "type");
    if (!type)
        return webServiceEnvelope(HttpResponse::Forbidden(), "Missing URL-Parameter \"type\"");
    if (*type != "base64" && *type != "raw")
        return webServiceEnvelope(HttpResponse::Forbidden(), "Unknown value for URL-Parameter \"type\", use \"base64\" or \"raw\"");
    auto name = lastPathComponent(*path);
    if (!itemExistsAtPath(*path))
        return webServiceEnvelope(HttpResponse::NotFound(), "File at path \"" + *path + "\" could not be found!", pathAndName(*path, name));

    auto png = fittedIconPNG(*path);
    if (png.empty())
        return webServiceEnvelope(HttpResponse::InternalServerError(), "Icon of \"" + name + "\" could not be drawn", pathAndName(*path, name));
    if (*type == "raw")
        return HttpResponse::RAW(okOutcome().statusCode(), okOutcome().reasonPhrase(), std::nullopt, std::move(png));
    Dictionary info;
    info.set("base64String", Value(base64Encode(png)));
    return webServiceEnvelope(okOutcome(), "Icon of \"" + name + "\" as base64 string", std::move(info));
}

}
