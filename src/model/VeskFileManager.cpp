#include "model/VeskFileManager.h"

#include <sys/stat.h>

#include "model/PlatformUtilities.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "platform/foundation/AppHome.h"
#include "platform/foundation/NSByteCountFormatter.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/NSUserDefaults.h"

#include <array>
#include <set>
#include <utility>

namespace vesk {

using namespace platform;

namespace {

    constexpr std::string_view veskDownloadExtension = "veskDL";

    // As many links as the kernel follows before it gives up with ELOOP.
    constexpr int maxLinkHops = 40;

    // The attributes of what the path finally names, links followed.
    std::optional<FileAttributes> resolvedAttributes(const NSFileManager& fm, std::string path)
    {
        for (int hop = 0; hop <= maxLinkHops; ++hop) {
            auto attributes = fm.attributesOfItemAtPath(path);
            if (!attributes || attributes->type != FileType::SymbolicLink)
                return attributes;
            auto destination = fm.destinationOfSymbolicLinkAtPath(path);
            if (!destination)
                return std::nullopt;
            // Relative targets count from the link's own folder; ".." is left to the kernel.
            std::string folder = stringByDeletingLastPathComponent(path);
            if (!isAbsolutePath(*destination) && !folder.empty())
                path = folder + "/" + *destination;
            else
                path = *destination;
        }
        return std::nullopt;
    }

    using FolderID = std::pair<std::uint64_t, std::uint64_t>;

    // The folders on the current path of a walk, by device and inode: entering one of them
    // again is a cycle, while a folder reached through two links is walked each time.
    class FolderPath {
    public:
        // Enters the folder for the guard's lifetime; entered() is false when the folder is
        // already on the path (or can't be identified).
        class Guard {
        public:
            Guard(FolderPath& path, const NSFileManager& fm, const std::string& folder)
                : m_path(path)
            {
                if (auto attributes = resolvedAttributes(fm, folder))
                    m_entered = m_path.m_folders.insert({ attributes->systemNumber, attributes->systemFileNumber });
            }
            ~Guard()
            {
                if (entered())
                    m_path.m_folders.erase(m_entered.first);
            }
            Guard(const Guard&) = delete;
            Guard& operator=(const Guard&) = delete;
            bool entered() const { return m_entered.second; }

        private:
            FolderPath& m_path;
            std::pair<std::set<FolderID>::iterator, bool> m_entered {};
        };

    private:
        std::set<FolderID> m_folders;
    };

    bool showsHiddenFiles()
    {
        return NSUserDefaults::standardUserDefaults()->boolForKey(hashedDefaultsKey2());
    }

    constexpr std::array<std::string_view, 8> permissionTriplets = { "---", "--x", "-w-", "-wx", "r--", "r-x", "rw-", "rwx" };

}

VeskFileManager::VeskFileManager()
    : m_fileManager(NSFileManager::defaultManager())
{
}

VeskFileManager::VeskFileManager(NSFileManager& fileManager)
    : m_fileManager(fileManager)
{
}

VeskFileManager& VeskFileManager::defaultManager()
{
    static VeskFileManager manager;
    return manager;
}

bool VeskFileManager::isDirectoryAtPath(std::string_view path) const
{
    if (isVeskDownloadFileAtPath(path))
        return false;
    bool isDirectory = false;
    return m_fileManager.fileExistsAtPath(std::string(path), &isDirectory) && isDirectory;
}

bool VeskFileManager::isDanglingLinkAtPath(std::string_view path) const
{
    std::string item(path);
    struct stat st { };
    return ::lstat(item.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(item.c_str(), &st) != 0;
}

bool VeskFileManager::isVeskDownloadFileAtPath(std::string_view path) const
{
    return pathExtension(path) == veskDownloadExtension;
}

std::int64_t VeskFileManager::getTaskIDFromVeskDownloadFile(std::string_view) const
{
    return 1;
}

std::string VeskFileManager::getPosixPermisionsOfPath(std::string_view path) const
{
    auto attributes = m_fileManager.attributesOfItemAtPath(std::string(path));
    if (!attributes)
        return {};
    std::string text(1, attributes->type == FileType::Directory ? 'd' : '-');
    for (int shift : { 6, 3, 0 })
        text += permissionTriplets[(attributes->posixPermissions >> shift) & 07];
    return text;
}

Dictionary VeskFileManager::getAttributesOfFile(std::string_view path) const
{
    auto attributes = m_fileManager.attributesOfItemAtPath(std::string(path));
    if (!attributes)
        return Dictionary { { "", Value("") } };
    auto toDate = [](std::chrono::system_clock::time_point time) {
        return Date { std::chrono::duration<double>(time.time_since_epoch()).count() };
    };
    Dictionary result;
    result.set("NSFileType", Value(fileTypeName(attributes->type)));
    result.set("NSFileSize", Value(static_cast<long long>(attributes->size)));
    result.set("NSFilePosixPermissions", Value(static_cast<long long>(attributes->posixPermissions)));
    result.set("NSFileReferenceCount", Value(static_cast<long long>(attributes->referenceCount)));
    result.set("NSFileOwnerAccountID", Value(static_cast<long long>(attributes->ownerAccountID)));
    result.set("NSFileGroupOwnerAccountID", Value(static_cast<long long>(attributes->groupOwnerAccountID)));
    if (!attributes->ownerAccountName.empty())
        result.set("NSFileOwnerAccountName", Value(attributes->ownerAccountName));
    if (!attributes->groupOwnerAccountName.empty())
        result.set("NSFileGroupOwnerAccountName", Value(attributes->groupOwnerAccountName));
    result.set("NSFileCreationDate", Value(toDate(attributes->creationDate)));
    result.set("NSFileModificationDate", Value(toDate(attributes->modificationDate)));
    result.set("NSFileSystemNumber", Value(static_cast<long long>(attributes->systemNumber)));
    result.set("NSFileSystemFileNumber", Value(static_cast<long long>(attributes->systemFileNumber)));
    return result;
}

std::string VeskFileManager::getDocumentDirectory() const
{
    std::string path = expandingTildeInPath(documentsDirectory());
    if (!m_fileManager.fileExistsAtPath(path) && createDirectoryAtPath(path))
        debugLog("Created document directory " + lastPathComponent(path), __FILE__, __LINE__, __func__);
    return path;
}

std::string VeskFileManager::getSizeOfFileAsString(std::string_view path) const
{
    return NSByteCountFormatter::stringFromByteCount(getSizeOf(path), NSByteCountFormatter::CountStyle::File);
}

namespace {

    std::int64_t sizeBelow(const VeskFileManager& vfm, const NSFileManager& fm, const std::string& path, FolderPath& ancestors)
    {
        if (vfm.isDirectoryAtPath(path)) {
            FolderPath::Guard folder(ancestors, fm, path);
            if (!folder.entered())
                return 0;
            auto names = fm.contentsOfDirectoryAtPath(path);
            if (!names) {
                debugLog("Error getting size of directory " + lastPathComponent(path), __FILE__, __LINE__, __func__);
                return 0;
            }
            std::int64_t total = 0;
            for (auto const& name : *names)
                total += sizeBelow(vfm, fm, stringByAppendingPathComponent(path, name), ancestors);
            return total;
        }
        // Only a readable regular file has contents to count; FIFOs, devices and sockets are
        // never opened, so nothing blocks.
        auto attributes = resolvedAttributes(fm, path);
        if (!attributes || attributes->type != FileType::Regular || !fm.isReadableFileAtPath(path))
            return 0;
        return attributes->size;
    }

    void contentBelow(const VeskFileManager& vfm, const NSFileManager& fm, const std::string& path, FolderPath& ancestors,
        std::vector<std::string>& result)
    {
        if (!vfm.isDirectoryAtPath(path)) {
            result.push_back(path);
            return;
        }
        FolderPath::Guard folder(ancestors, fm, path);
        if (!folder.entered())
            return;
        auto names = fm.contentsOfDirectoryAtPath(path);
        if (!names) {
            debugLog("There was an error getting the content of \"" + lastPathComponent(path) + "\"", __FILE__, __LINE__, __func__);
            return;
        }
        for (auto const& name : *names)
            contentBelow(vfm, fm, stringByAppendingPathComponent(path, name), ancestors, result);
    }

}

std::int64_t VeskFileManager::getSizeOf(std::string_view path) const
{
    FolderPath ancestors;
    return sizeBelow(*this, m_fileManager, std::string(path), ancestors);
}

std::string VeskFileManager::homeDir() const
{
    return "/";
}

bool VeskFileManager::createDirectoryAtPath(std::string_view path) const
{
    if (m_fileManager.createDirectoryAtPath(std::string(path), true))
        return true;
    debugLog("Error, document directory could not be created!", __FILE__, __LINE__, __func__);
    return false;
}

// The record initWithPath makes, with one look at the item where it would make two; the
// record keeps what that look saw, so listings can be compared.
std::shared_ptr<VeskFile> VeskFileManager::recordOf(const std::string& path) const
{
    auto state = ListedState::of(path);
    // A link whose target is gone answers for itself, and is no folder.
    bool existsAsFolder = state && S_ISDIR(state->mode);
    return std::shared_ptr<VeskFile>(new VeskFile(NSURL::fileURLWithPath(path, existsAsFolder), existsAsFolder, state.value_or(ListedState {})));
}

std::vector<std::shared_ptr<VeskFile>> VeskFileManager::getFiles(std::string_view path) const
{
    std::string folder(path);
    std::optional<std::vector<std::string>> names;
    if (showsHiddenFiles()) {
        names = m_fileManager.contentsOfDirectoryAtPath(folder);
    } else {
        // Listed by URL: the entries come back as file URLs of the folder's absolute path.
        folder = NSURL::fileURLWithPath(path).path();
        names = m_fileManager.contentsOfDirectoryAtPath(folder, nullptr, DirectoryEnumerationOptions::SkipsHiddenFiles);
    }
    std::vector<std::shared_ptr<VeskFile>> files;
    if (!names)
        return files;
    files.reserve(names->size());
    for (auto const& name : *names)
        files.push_back(recordOf(stringByAppendingPathComponent(folder, name)));
    return files;
}

std::vector<std::string> VeskFileManager::getFilePaths(std::string_view path) const
{
    if (showsHiddenFiles())
        return m_fileManager.contentsOfDirectoryAtPath(std::string(path)).value_or(std::vector<std::string> {});
    std::string folder = NSURL::fileURLWithPath(path).path();
    auto names = m_fileManager.contentsOfDirectoryAtPath(folder, nullptr, DirectoryEnumerationOptions::SkipsHiddenFiles);
    std::vector<std::string> paths;
    if (!names)
        return paths;
    paths.reserve(names->size());
    for (auto const& name : *names)
        paths.push_back(stringByAppendingPathComponent(folder, name));
    return paths;
}

std::vector<std::string> VeskFileManager::getAllContentOfDirectory(std::string_view path) const
{
    FolderPath ancestors;
    std::vector<std::string> result;
    contentBelow(*this, m_fileManager, std::string(path), ancestors, result);
    return result;
}

}
