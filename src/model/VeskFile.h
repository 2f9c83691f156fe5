#pragma once

#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSURL.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {
class NSFileManager;
class UIImage;
}

namespace vesk {

class Bookmarks;

// An item's kind and permission bits, size and modification time, as a listing sees them (a
// link answers for its target while there is one): a rename aside, a listing that differs in
// these has changed.
struct ListedState {
    std::uint32_t mode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;
    bool operator==(const ListedState&) const = default;

    // None when the item can't be found, not even as a link.
    static std::optional<ListedState> of(const std::string& path);
};

// One file or folder, named by its file URL. The flags are read once, when the record is
// made, and never follow the item afterwards; records are never written after construction,
// so any thread may read them.
class VeskFile : public platform::NSCoding {
public:
    // The designated constructor; `url` is a file URL.
    explicit VeskFile(platform::NSURL url);
    ~VeskFile() override;

    static std::shared_ptr<VeskFile> initWithUrl(platform::NSURL url);
    // The file URL of the path (marked as a folder URL when it names an existing folder).
    static std::shared_ptr<VeskFile> initWithPath(std::string_view path);
    // Null when the archived "pathURL" is missing, not a string or not a file URL.
    static std::shared_ptr<VeskFile> initWithCoder(platform::NSKeyedUnarchiver& coder);
    // The decoder table for archives holding records.
    static const platform::NSKeyedUnarchiver::Decoders& archiveDecoders();

    virtual std::string path() const;
    virtual const platform::NSURL& url() const { return m_fileUrl; }
    // Made anew on every call; absent when the item has no picture.
    virtual std::shared_ptr<platform::UIImage> icon() const;
    virtual std::string name() const;
    virtual const std::string& suffix() const { return m_fileSuffix; }
    virtual bool isDir() const { return m_fileIsDirectory; }
    virtual bool isReadable() const { return m_fileIsReadable; }
    virtual bool isWritable() const { return m_fileIsWritable; }
    // The ten-character permission text, or empty text when the attributes can't be read.
    virtual std::string posix() const;

    std::string classNameForKeyedArchiver() const override { return "VeskFile"; }
    void encodeWithCoder(platform::NSKeyedArchiver& coder) const override;

    // True for a record (of this class or one derived from it) with an equal URL.
    virtual bool isEqual(const platform::NSCoding* object) const;
    virtual std::int64_t hash() const;

    // Removes the item (a folder with everything in it, whatever the modes of the person's own
    // folders); false when that failed. The record and the bookmark list stay as they are.
    // ("delete" is a C++ keyword.)
    virtual bool deleteFile() const;
    // Asks the stored bookmark list at the time of the call.
    virtual bool isInBookmarks() const;

    bool operator==(const VeskFile& other) const { return isEqual(&other); }
    // What the listing that made the record saw; all 0 for records made otherwise.
    const ListedState& listedState() const { return m_listedState; }

private:
    friend class VeskFileManager;
    // For listings, which have already asked whether the item is a folder (links followed)
    // to mark its URL, so the record need not ask again.
    VeskFile(platform::NSURL url, bool existsAsFolder, ListedState listed);
    void readFlags(std::optional<bool> existsAsFolder);

    platform::NSURL m_fileUrl;
    platform::NSFileManager& m_fm;
    bool m_fileIsDirectory { false };
    bool m_fileIsReadable { false };
    bool m_fileIsWritable { false };
    std::string m_fileName;
    std::string m_fileSuffix;
    std::shared_ptr<Bookmarks> m_bookmarks;
    ListedState m_listedState;
};

}
