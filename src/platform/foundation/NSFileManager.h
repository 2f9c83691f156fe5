#pragma once

#include "platform/foundation/NSError.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

enum class FileType {
    Regular,
    Directory,
    SymbolicLink,
    CharacterSpecial,
    BlockSpecial,
    Socket,
    Unknown, // FIFOs and anything else
};

// The platform's names for the file types: "NSFileTypeRegular", "NSFileTypeDirectory", ...
std::string_view fileTypeName(FileType type);

// An item's attributes, read without following a final symbolic link.
struct FileAttributes {
    FileType type = FileType::Unknown;
    std::int64_t size = 0; // st_size for regular files and links, 0 for anything else
    std::uint16_t posixPermissions = 0; // the permission bits with set-id and sticky bits (07777)
    std::uint32_t ownerAccountID = 0;
    std::uint32_t groupOwnerAccountID = 0;
    std::string ownerAccountName; // empty when the id has no name
    std::string groupOwnerAccountName;
    std::chrono::system_clock::time_point creationDate; // birth time, else the status change time
    std::chrono::system_clock::time_point modificationDate;
    // The birth time alone; absent where the file system records none.
    std::optional<std::chrono::system_clock::time_point> birthDate;
    std::uint64_t referenceCount = 0;
    std::uint64_t systemNumber = 0;
    std::uint64_t systemFileNumber = 0;
};

// What a created item gets instead of the defaults.
struct FileCreationAttributes {
    std::optional<std::uint16_t> posixPermissions;
    std::optional<std::chrono::system_clock::time_point> modificationDate;
};

// The domain of a move across file systems that copied the item whole but could not remove all
// of its source: the destination holds it all, and the code is the removal's errno.
inline constexpr std::string_view NSFileManagerSourceLeftDomain = "NSFileManagerSourceLeftDomain";

enum class RemovalOptions : unsigned {
    None = 0,
    // A folder of the caller's own that shuts its owner out is opened to its owner on the way
    // down; when a later part fails, each folder that stays gets its own mode back.
    OpensOwnFolders = 1,
};

enum class DirectoryEnumerationOptions : unsigned {
    None = 0,
    SkipsHiddenFiles = 4, // leaves out names that begin with "."
};

class NSFileManager {
public:
    static NSFileManager& defaultManager();

    // Entry names in the order the file system lists them, without "." and "..";
    // absent (and *error set) when the folder can't be listed.
    std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path, NSError* error = nullptr,
        DirectoryEnumerationOptions options = DirectoryEnumerationOptions::None) const;

    // Every item below the folder as a path relative to it, depth first, never entering
    // folder links; absent when the folder itself can't be listed.
    std::optional<std::vector<std::string>> subpathsOfDirectoryAtPath(const std::string& path, NSError* error = nullptr) const;

    std::optional<FileAttributes> attributesOfItemAtPath(const std::string& path, NSError* error = nullptr) const;

    // Follow a final symbolic link, like the platform's existence test.
    bool fileExistsAtPath(const std::string& path) const;
    bool fileExistsAtPath(const std::string& path, bool* isDirectory) const;

    bool isReadableFileAtPath(const std::string& path) const;
    bool isWritableFileAtPath(const std::string& path) const;
    bool isExecutableFileAtPath(const std::string& path) const;
    // The parent folder is writable and searchable, and under a sticky parent the caller
    // owns the item or the parent (or is root).
    bool isDeletableFileAtPath(const std::string& path) const;

    // Removes the item and, for a folder, everything inside it; links are removed, never
    // followed. Stops at the first failure and reports it.
    bool removeItemAtPath(const std::string& path, NSError* error = nullptr, RemovalOptions options = RemovalOptions::None) const;
    // Copies recursively, keeping modes, times, extended attributes, holes and symbolic links;
    // fails when anything exists at the destination. A copy that fails removes what it made.
    bool copyItemAtPath(const std::string& source, const std::string& destination, NSError* error = nullptr) const;
    // Renames without ever replacing; across file systems copies, then removes the source,
    // keeping also the owner where allowed and the hard links inside the item.
    bool moveItemAtPath(const std::string& source, const std::string& destination, NSError* error = nullptr) const;

    bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
        const FileCreationAttributes* attributes = nullptr, NSError* error = nullptr) const;
    // Writes the file whole (replacing an existing file), through a temporary file and a rename.
    bool createFileAtPath(const std::string& path, const std::vector<std::uint8_t>& contents,
        const FileCreationAttributes* attributes = nullptr) const;
    // A regular file's whole contents; absent for anything that is not a readable regular file.
    std::optional<std::vector<std::uint8_t>> contentsAtPath(const std::string& path) const;

    bool createSymbolicLinkAtPath(const std::string& path, const std::string& destination, NSError* error = nullptr) const;
    std::optional<std::string> destinationOfSymbolicLinkAtPath(const std::string& path, NSError* error = nullptr) const;

    std::string currentDirectoryPath() const;

private:
    NSFileManager() = default;
};

}
