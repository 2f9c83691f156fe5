#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {
class NSFileManager;
class UIImage;
}

namespace vesk {

class VeskFile;

// The app's operations on top of the platform file manager: folders, listings, sizes,
// attributes and permissions, and the partial-download placeholders. Keeps no state; any
// thread may call it.
class VeskFileManager {
public:
    // Over the process's default file manager.
    VeskFileManager();
    explicit VeskFileManager(platform::NSFileManager& fileManager);

    static VeskFileManager& defaultManager();

    // A placeholder is never a folder; otherwise the existence test's answer (links followed).
    bool isDirectoryAtPath(std::string_view path) const;
    // A symbolic link whose target can't be reached (gone, or a loop of links); it is still
    // a link to copy, move and rename.
    bool isDanglingLinkAtPath(std::string_view path) const;
    // The path extension is exactly "veskDL".
    bool isVeskDownloadFileAtPath(std::string_view path) const;
    std::int64_t getTaskIDFromVeskDownloadFile(std::string_view path) const;
    // "drwxr-xr-x" style, of the item itself (links not followed); empty when unreadable.
    std::string getPosixPermisionsOfPath(std::string_view path) const;
    // The item's attributes under the platform's keys (NSFileType, NSFileSize, ...); a
    // dictionary with one empty key holding empty text when they can't be read.
    platform::Dictionary getAttributesOfFile(std::string_view path) const;
    // Created when missing.
    std::string getDocumentDirectory() const;
    std::string getSizeOfFileAsString(std::string_view path) const;
    // Bytes of file contents at or below the path. Folder links are followed and a folder
    // reached through two links counts twice, but a folder already on the way down (same
    // device and inode: a link cycle) is skipped; anything but a readable regular file counts
    // 0 and is never read.
    std::int64_t getSizeOf(std::string_view path) const;
    std::string homeDir() const;
    bool createDirectoryAtPath(std::string_view path) const;

    // The folder's entries in listing order; hidden ones only while the hidden-files switch is
    // on. Empty when the folder can't be listed.
    std::vector<std::shared_ptr<VeskFile>> getFiles(std::string_view path) const;
    // Switch off: full paths of the entries that are not hidden. Switch on: bare entry names.
    std::vector<std::string> getFilePaths(std::string_view path) const;
    // Every item at or below the path that is not a folder, depth first; the path itself when
    // it is no folder. Folder links are followed; a folder already on the way down adds nothing.
    std::vector<std::string> getAllContentOfDirectory(std::string_view path) const;

    // The item's icon: a drawn type icon, a picture file's own picture or an app bundle's icon;
    // absent for a picture that can't be loaded. In VeskFileTypes.cpp.
    std::shared_ptr<platform::UIImage> getImageForFileAtPath(std::string_view path) const;

private:
    std::shared_ptr<VeskFile> recordOf(const std::string& path) const;

    platform::NSFileManager& m_fileManager;
};

}
