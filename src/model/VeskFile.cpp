#include "model/VeskFile.h"

#include "model/Bookmarks.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"

#include <sys/stat.h>

namespace vesk {

using namespace platform;

namespace {

    constexpr std::string_view pathURLKey = "pathURL";

}

VeskFile::VeskFile(NSURL url)
    : m_fileUrl(std::move(url))
    , m_fm(NSFileManager::defaultManager())
    , m_bookmarks(std::make_shared<Bookmarks>())
{
    readFlags(std::nullopt);
}

VeskFile::VeskFile(NSURL url, bool existsAsFolder, ListedState listed)
    : m_fileUrl(std::move(url))
    , m_fm(NSFileManager::defaultManager())
    , m_bookmarks(std::make_shared<Bookmarks>())
    , m_listedState(listed)
{
    readFlags(existsAsFolder);
}

void VeskFile::readFlags(std::optional<bool> existsAsFolder)
{
    VeskFileManager extension(m_fm);
    std::string itemPath = m_fileUrl.path();
    if (existsAsFolder)
        m_fileIsDirectory = *existsAsFolder && !extension.isVeskDownloadFileAtPath(itemPath);
    else
        m_fileIsDirectory = extension.isDirectoryAtPath(itemPath);
    m_fileIsReadable = m_fm.isReadableFileAtPath(itemPath);
    m_fileIsWritable = m_fm.isWritableFileAtPath(itemPath);
    m_fileName = m_fileUrl.lastPathComponent();
    m_fileSuffix = pathExtension(m_fileName);
}

std::optional<ListedState> ListedState::of(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 && ::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return ListedState { info.st_mode, static_cast<std::int64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec };
}

VeskFile::~VeskFile() = default;

std::shared_ptr<VeskFile> VeskFile::initWithUrl(NSURL url)
{
    return std::make_shared<VeskFile>(std::move(url));
}

std::shared_ptr<VeskFile> VeskFile::initWithPath(std::string_view path)
{
    return initWithUrl(NSURL::fileURLWithPath(path));
}

std::shared_ptr<VeskFile> VeskFile::initWithCoder(NSKeyedUnarchiver& coder)
{
    auto text = coder.decodeStringForKey(pathURLKey);
    if (!text)
        return nullptr;
    auto url = NSURL::URLWithString(*text);
    if (!url || !url->isFileURL())
        return nullptr;
    return initWithUrl(std::move(*url));
}

const NSKeyedUnarchiver::Decoders& VeskFile::archiveDecoders()
{
    static const NSKeyedUnarchiver::Decoders decoders {
        { "VeskFile", [](NSKeyedUnarchiver& coder) -> std::shared_ptr<const NSCoding> { return initWithCoder(coder); } },
    };
    return decoders;
}

std::string VeskFile::path() const
{
    return m_fileUrl.path();
}

std::shared_ptr<UIImage> VeskFile::icon() const
{
    return VeskFileManager(m_fm).getImageForFileAtPath(path());
}

std::string VeskFile::name() const
{
    return m_fileUrl.lastPathComponent();
}

std::string VeskFile::posix() const
{
    return VeskFileManager(m_fm).getPosixPermisionsOfPath(path());
}

void VeskFile::encodeWithCoder(NSKeyedArchiver& coder) const
{
    coder.encodeObject(ArchiveObject(m_fileUrl.absoluteString()), pathURLKey);
}

bool VeskFile::isEqual(const NSCoding* object) const
{
    auto const* other = dynamic_cast<const VeskFile*>(object);
    return other && other->m_fileUrl == m_fileUrl;
}

std::int64_t VeskFile::hash() const
{
    return static_cast<std::int64_t>(m_fileUrl.hash());
}

bool VeskFile::deleteFile() const
{
    // The person's own folders go whatever their modes: an archive may have made them 0500.
    return m_fm.removeItemAtPath(path(), nullptr, platform::RemovalOptions::OpensOwnFolders);
}

bool VeskFile::isInBookmarks() const
{
    return m_bookmarks->isInBookmarks(*this);
}

}
