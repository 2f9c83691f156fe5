#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vesk::platform {
class UIColor;
}

namespace vesk {

// What kind of file a path names, by its extension alone, compared exactly as
// written ("JPG" is no picture). The icon of a path is
// VeskFileManager::getImageForFileAtPath. All of it keeps no state and runs on
// any thread.

bool isVideoFileAtPath(std::string_view path);
bool isMusicFileAtPath(std::string_view path);
bool isStringsFileAtPath(std::string_view path);
bool isListFileAtPath(std::string_view path);
bool isImageFileAtPath(std::string_view path);
bool isZipFileAtPath(std::string_view path);
bool isSwiftFileAtPath(std::string_view path);
bool isTextFileAtPath(std::string_view path);
bool isWebFileAtPath(std::string_view path);
bool isAppFileAtPath(std::string_view path);

// The colour of the path's type; flatPurple for any other extension and for
// none.
std::shared_ptr<platform::UIColor> getColorOfFile(std::string_view path);

// "text/directory" for an existing folder, else the extension's MIME type, else
// "unknown".
std::string getMimeTypeOfFile(std::string_view path);

} // namespace vesk
